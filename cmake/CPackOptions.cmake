# Per-generator settings, read by cpack: the .tar.gz unpacks to a relocatable tree
# (bin/, include/, lib/, share/) instead of one under usr/.
if(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()

if(LUMETRA_SANITIZERS)
    add_compile_options(-fsanitize=${LUMETRA_SANITIZERS} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${LUMETRA_SANITIZERS})
endif()

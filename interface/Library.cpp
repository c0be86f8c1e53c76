#include "interface/Library.h"

namespace {

using Lumetra::InterfaceContract::ExceptionCode;
using Lumetra::InterfaceContract::IInterface;
using Lumetra::Vesk::Environment::HorizontalGrid::ILibrary;
using Lumetra::Vesk::Environment::HorizontalGrid::Library;

}  // namespace

extern "C" ExceptionCode getLibraryInterface(IInterface* hostInterface, ILibrary** result) {
    // The host hands its interface over; the library has no use for it.
    if (hostInterface != nullptr) hostInterface->Release();
    return Lumetra::InterfaceContract::guardedCall(static_cast<Library*>(nullptr), [&] {
        Lumetra::InterfaceContract::requirePointer(result, "result");
        Lumetra::InterfaceContract::createInterfaced<ILibrary, Library>().storeInto(result);
    });
}

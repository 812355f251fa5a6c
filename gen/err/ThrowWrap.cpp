// Every throw expression of a program passes here first (the library target
// links with --wrap=__cxa_throw). The compiler's exceptions do not travel as
// structured exceptions, so the guard would never see them: any object but
// an ErrFrame is raised as the throw exception before any unwinding, and
// becomes fatal even where the program would have caught it.

#include <windows.h>

#include <typeinfo>

#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"

namespace {
const ULONG_PTR kThrowMagic = 0x19930520;
}

extern "C" {

[[noreturn]] void __real___cxa_throw(void* object, std::type_info* type,
                                     void (*destroy)(void*));

[[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type,
                                     void (*destroy)(void*)) {
  if (!type || *type != typeid(ErrFrame)) {
    ULONG_PTR arguments[3] = {kThrowMagic, reinterpret_cast<ULONG_PTR>(object),
                              reinterpret_cast<ULONG_PTR>(type)};
    RaiseException(kThrowException, 0, 3, arguments);
  }
  __real___cxa_throw(object, type, destroy);
}
}

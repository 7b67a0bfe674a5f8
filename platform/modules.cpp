// The built-in modules that LoadLibraryW finds: "DDRAW.DLL" and "DINPUT.DLL"
// with their creation functions.
#include "platform/backend.h"
#include "platform/kernel.h"

extern const bool PlatformModulesLinked = true;

void PlatformBuiltinModules() {
  static KernelExport ddraw[] = {{"DirectDrawCreateEx", nullptr}, {nullptr, nullptr}};
  static KernelExport dinput[] = {{"DirectInputCreateEx", nullptr}, {nullptr, nullptr}};
  ddraw[0].routine = DDrawCreateEntry();
  dinput[0].routine = DInputCreateEntry();
  KernelRegisterModule("DDRAW.DLL", ddraw);
  KernelRegisterModule("DINPUT.DLL", dinput);
}

// The component object the Native API platform creates with GetClassObject:
// its four interface tables in front, the portable component behind them.
#pragma once

#include "hosts/native/abi.hpp"

namespace vtsd::native {

// The class the library offers; a configuration creates it as
// Новый("AddIn.<name>.VemlarTSD").
inline constexpr char16_t kClassName[] = u"VemlarTSD";

// A new object, or null when memory runs out. The platform sees its start as
// the component (its first interface) and gives it back to
// DestroyNativeObject.
NativeFaces* CreateNativeObject();
void DestroyNativeObject(NativeFaces* object);

}  // namespace vtsd::native

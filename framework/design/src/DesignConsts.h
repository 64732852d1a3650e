// The designer part's localisable messages.
#pragma once

#include <Framework/ResourceStrings.h>

namespace Framework::DesignConsts {

inline constexpr TResourceString SInvalidPropertyValue{"Framework.SInvalidPropertyValue",
                                                       u"Invalid property value"};
inline constexpr TResourceString SOutOfRange{"Framework.SOutOfRange", u"Value must be between %s and %s"};
inline constexpr TResourceString SPropertyReadOnly{"Framework.SPropertyReadOnly",
                                                   u"Property %s is read-only"};
inline constexpr TResourceString SNullPaletteClass{"Framework.SNullPaletteClass",
                                                   u"Cannot put a null class on palette page %s"};
inline constexpr TResourceString SClassNotRegistered{"Framework.SClassNotRegistered",
                                                     u"Class %s is not registered"};
inline constexpr TResourceString SPackageLoad{"Framework.SPackageLoad", u"Cannot load package %s: %s"};
inline constexpr TResourceString SPackageNoEntry{"Framework.SPackageNoEntry",
                                                 u"%s is not a package: it has no entry point %s"};
inline constexpr TResourceString SPackageNoTable{"Framework.SPackageNoTable",
                                                 u"Package %s has no package information table"};
inline constexpr TResourceString SPackageVersion{
    "Framework.SPackageVersion", u"Package %s has package table version %s; this designer reads version %s"};
inline constexpr TResourceString SPackageLoaded{"Framework.SPackageLoaded", u"Package %s is already loaded"};
inline constexpr TResourceString SPackageInitialize{"Framework.SPackageInitialize",
                                                    u"Package %s failed to initialize: %s"};
inline constexpr TResourceString SPackageRegister{"Framework.SPackageRegister",
                                                  u"Package %s failed to register unit %s: %s"};

}  // namespace Framework::DesignConsts

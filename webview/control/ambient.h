#pragma once
// What a control learns from its container: the ambient run-mode flag and, through the extender, the
// "RunMode" property of the object that contains it.
#include <windows.h>
#include <ocidl.h>

#include <optional>

namespace velview::view {

// The ambient UserMode of the site's IDispatch; true when the site has no ambient properties or does
// not answer (a plain host runs its controls).
bool AmbientUserMode(IOleClientSite* site);

// The extender's Parent object's "RunMode" as a boolean, both looked up by name at run time; nothing when
// any step fails (no control site, no extender, no Parent, no such property, no boolean value).
std::optional<bool> ExtenderParentRunMode(IOleClientSite* site);

// RunMode: the ambient flag, replaced by the enclosing object's RunMode when it has one.
bool RunModeOf(IOleClientSite* site);

}  // namespace velview::view

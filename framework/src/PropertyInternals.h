// Hooks between the component core and the property and form-file layers.
#pragma once

#include "Framework/Classes.h"

namespace Framework::Detail {

/// Clears every published component reference of Holder that points at
/// Target, through the property setters.
void ClearPublishedReferences(TComponent& holder, TComponent* target);

/// Takes a component that is being destroyed out of the list of loaded
/// roots (cheap when no root was ever registered).
void ForgetLoadedRoot(TComponent* component) noexcept;

}  // namespace Framework::Detail

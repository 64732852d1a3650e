// Placeholder translation unit; the framework's sources live beside it.
#include "Framework/Types.h"

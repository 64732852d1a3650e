/// \file
/// Everything the framework offers, in one include.
#pragma once

#include "Framework/Classes.h"
#include "Framework/FormFiles.h"
#include "Framework/Forms.h"
#include "Framework/Properties.h"
#include "Framework/ResourceStrings.h"
#include "Framework/Set.h"
#include "Framework/SysUtils.h"
#include "Framework/Types.h"

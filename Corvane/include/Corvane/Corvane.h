/// \file
/// The runtime unit: every component, the exception class and the global
/// routines. `using namespace Corvane;` brings in what an application needs.
#pragma once

#include "Corvane/Connection.h"
#include "Corvane/Cookie.h"
#include "Corvane/Dates.h"
#include "Corvane/Errors.h"
#include "Corvane/Ftp.h"
#include "Corvane/Handle.h"
#include "Corvane/Http.h"
#include "Corvane/Session.h"
#include "Corvane/Url.h"
#include "Corvane/Version.h"

// Register and the port property editor.
#include "CorvaneE/CorvaneE.h"

#include <Corvane/Connection.h>
#include <Corvane/Cookie.h>
#include <Corvane/Ftp.h>
#include <Corvane/Http.h>
#include <Corvane/Session.h>
#include <Corvane/Url.h>
#include <Framework/Designer.h>
#include <Platform/WinInet.h>

namespace CorvaneE {

namespace {

using Framework::ClassOf;
using Framework::UnicodeString;

struct TWellKnownPort {
    int Value;
    const char16_t* Name;
};

// The services a port is shown by, in the order they are offered.
constexpr TWellKnownPort WellKnownPorts[] = {
    {INTERNET_DEFAULT_FTP_PORT, u"FTP"},     {INTERNET_DEFAULT_GOPHER_PORT, u"GOPHER"},
    {INTERNET_DEFAULT_HTTP_PORT, u"HTTP"},   {INTERNET_DEFAULT_HTTPS_PORT, u"HTTPS"},
    {INTERNET_DEFAULT_SOCKS_PORT, u"SOCKS"},
};

// Edits a Port by service name or number. The designer shows the names as
// a sorted drop-down list; a number that no service has shows as digits.
class TInternetPortProperty : public Framework::TOrdinalProperty {
public:
    using TOrdinalProperty::TOrdinalProperty;

    Framework::TPropertyAttributes GetAttributes() override {
        return {Framework::paValueList, Framework::paSortList};
    }

    // Never raises: a value that cannot be read shows as "(reason)".
    UnicodeString GetValue() override {
        try {
            const Framework::Int64 value = GetOrdValue();
            for (const auto& port : WellKnownPorts)
                if (port.Value == value) return port.Name;
            return Framework::IntToStr(value);
        } catch (const Framework::Exception& e) {
            return u"(" + e.Message() + u")";
        }
    }

    void GetValues(const Framework::TGetStrProc& proc) override {
        for (const auto& port : WellKnownPorts) proc(port.Name);
    }

    // A service name exactly as listed, else an integer. StrToInt's error
    // for other text, and SetOrdValue's for a number outside 0 to 65535,
    // reach the designer with the port unchanged.
    void SetValue(const UnicodeString& value) override {
        for (const auto& port : WellKnownPorts)
            if (value == port.Name) {
                SetOrdValue(port.Value);
                return;
            }
        SetOrdValue(Framework::StrToInt(value));
    }
};

}  // namespace

void Register() {
    using namespace Corvane;
    Framework::RegisterComponents(u"Ostrel",
                                  {ClassOf<TINetConnection>(), ClassOf<TINetSession>(), ClassOf<TINetFtp>(),
                                   ClassOf<TINetHttp>(), ClassOf<TINetUrl>(), ClassOf<TINetCookie>()});
    const auto editor = Framework::EditorClass<TInternetPortProperty>();
    for (const Framework::TClassInfo* cls : {ClassOf<TINetFtp>(), ClassOf<TINetHttp>(), ClassOf<TINetUrl>()})
        Framework::RegisterPropertyEditor(Framework::TypeInfo<Word>(), cls, u"Port", editor);
}

}  // namespace CorvaneE

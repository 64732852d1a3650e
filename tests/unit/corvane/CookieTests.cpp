// The cookie component against the mocked platform: the two calls of a
// read and their sizes, the write, and what a form file holds of it.
#include "TestHelpers.h"

#include <Framework/FormFiles.h>

#include <optional>

using namespace Corvane;
using namespace CorvaneTest;
using testing::_;
using testing::Return;

namespace {

// How the store refuses an HttpOnly cookie (ERROR_INVALID_OPERATION).
constexpr DWORD kInvalidOperation = 4317;

// One read as the scripted store answers it. SizeResult is the first call's
// answer: a size on success, or nothing for a failure with NoMoreItems.
// Second is what the second call writes (nullopt: it fails with
// SecondError); Room, the size the component must describe (0: no second
// call at all).
struct ReadCase {
    const char* Name;
    std::optional<DWORD> SizeResult;
    DWORD Room;
    std::optional<std::u16string> Second;
    DWORD SecondError;
    std::string Expected;  // the text read, or the message raised
};

const ReadCase kReads[] = {
    {"missing cookie", std::nullopt, 0, std::nullopt, 0, ""},
    {"size 0", 0, 0, std::nullopt, 0, ""},
    {"terminator only", 2, 0, std::nullopt, 0, ""},
    {"below 4 bytes", 3, 0, std::nullopt, 0, ""},
    {"one character", 4, 2, u"a", 0, "a"},
    {"odd size rounds down", 9, 4, u"a=1", 0, "a=1"},
    {"whole list", 20, 10, u"a=1; b=22", 0, "a=1; b=22"},
    {"shrank in between", 20, 10, u"a=1", 0, "a=1"},
    {"grew in between", 8, 4, std::nullopt, ERROR_INSUFFICIENT_BUFFER, "Error 122: "},
    {"failed without a code", 8, 4, std::nullopt, 0, ""},
};

TEST(CookieTest, ReadAsksForTheSizeThenReadsWithinTheBuffer) {
    for (const ReadCase& c : kReads) {
        SCOPED_TRACE(c.Name);
        testing::NiceMock<MockInternetApi> api;
        ScopedInternetApi use{api};
        TINetCookie cookie(nullptr);
        cookie.SetUrl(u"http://h/");  // the name stays empty: an empty text, not null

        std::vector<DWORD> rooms;
        EXPECT_CALL(api, InternetGetCookieW(WStrEq(u"http://h/"), WStrEq(u""), _, _))
            .Times(c.Room == 0 ? 1 : 2)
            .WillRepeatedly([&](LPCWSTR, LPCWSTR, LPWSTR data, LPDWORD size) -> BOOL {
                if (data == nullptr) {
                    EXPECT_EQ(*size, 0u);
                    if (!c.SizeResult) {
                        api.SetMockLastError(ERROR_NO_MORE_ITEMS);
                        return FALSE;
                    }
                    *size = *c.SizeResult;
                    return TRUE;
                }
                rooms.push_back(*size);
                // Fill the whole room first, so that characters left over
                // after a shorter text would show.
                std::fill(data, data + *size, WCHAR{'#'});
                if (!c.Second) {
                    api.SetMockLastError(c.SecondError);
                    return FALSE;
                }
                std::copy(c.Second->begin(), c.Second->end(), data);
                data[c.Second->size()] = 0;
                return TRUE;
            });
        const std::string raised = RaisedMessage([&] { EXPECT_EQ(U8(cookie.CookieData()), c.Expected); });
        if (raised != "<nothing raised>") {
            EXPECT_EQ(raised, c.Expected);
        }
        EXPECT_EQ(rooms, c.Room == 0 ? std::vector<DWORD>{} : std::vector<DWORD>{c.Room});
    }
}

TEST(CookieTest, PropertiesStayLocalAndWritesGoStraightToTheStore) {
    testing::StrictMock<MockInternetApi> api;
    EXPECT_CALL(api, GetLastError()).Times(testing::AnyNumber());
    EXPECT_CALL(api, SetLastError(_)).Times(testing::AnyNumber());
    EXPECT_CALL(api, GetModuleHandleW(_)).Times(testing::AnyNumber());  // the messages of Check
    EXPECT_CALL(api, FormatMessageW(_, _, _, _, _, _, _)).Times(testing::AnyNumber());
    ScopedInternetApi use{api};

    // Setting the fields and About calls nothing (the mock is strict).
    TINetCookie cookie(nullptr);
    cookie.SetAbout(u"other");
    EXPECT_EQ(U8(cookie.About()).rfind("Version 4.4", 0), 0u);
    cookie.SetUrl(u"not a URL \u00e9");
    EXPECT_EQ(U8(cookie.Url()), "not a URL \u00e9");

    // Every write goes to the store, empty texts as empty texts; a refusal
    // raises, and data the store would cut short never reaches it.
    cookie.SetUrl(u"http://h/");
    EXPECT_CALL(api, InternetSetCookieW(WStrEq(u"http://h/"), WStrEq(u""), WStrEq(u"a=1")))
        .WillOnce(Return(TRUE));
    cookie.SetCookieData(u"a=1");
    cookie.SetCookieName(u"sid");
    EXPECT_CALL(api, InternetSetCookieW(WStrEq(u"http://h/"), WStrEq(u"sid"), WStrEq(u"")))
        .WillOnce(Return(TRUE));
    cookie.SetCookieData(u"");
    EXPECT_CALL(api, InternetSetCookieW(_, WStrEq(u"sid"), WStrEq(u"x; HttpOnly")))
        .WillOnce(api.Fail(kInvalidOperation));
    EXPECT_EQ(RaisedMessage([&] { cookie.SetCookieData(u"x; HttpOnly"); }), "Error 4317: ");
    EXPECT_EQ(RaisedMessage([&] { cookie.SetCookieData(std::u16string(u"a\0b", 3)); }), "Error 87: ");

    // Reading twice asks the store twice.
    EXPECT_CALL(api, InternetGetCookieW(WStrEq(u"http://h/"), WStrEq(u"sid"), nullptr, _))
        .Times(2)
        .WillRepeatedly(api.Fail(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(U8(cookie.CookieData()), "");
    EXPECT_EQ(U8(cookie.CookieData()), "");
}

TEST(CookieTest, FormFileHoldsTheTextsWhenNotEmptyAndNeverTheData) {
    testing::StrictMock<MockInternetApi> api;  // neither writing nor reading asks the store
    ScopedInternetApi use{api};
    TComponent root(nullptr);
    root.SetName(u"Form1");
    (new TINetCookie(&root))->SetName(u"Empty");
    auto* full = new TINetCookie(&root);
    full->SetName(u"Full");
    full->SetUrl(u"http://h/a 'b'");
    full->SetCookieName(u"sid");

    const std::string form =
        "object Form1: TComponent\n"
        "  object Empty: TINetCookie\n"
        "  end\n"
        "  object Full: TINetCookie\n"
        "    CookieName = 'sid'\n"
        "    Url = 'http://h/a ''b'''\n"
        "  end\n"
        "end\n";
    EXPECT_EQ(U8(Framework::ComponentToText(&root)), form);

    TComponent copy(nullptr);
    Framework::TextToComponent(Framework::Utf8ToUtf16(form), &copy);
    auto* back = dynamic_cast<TINetCookie*>(copy.FindComponent(u"Full"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(U8(back->Url()), "http://h/a 'b'");
    EXPECT_EQ(U8(back->CookieName()), "sid");
}

}  // namespace

// libFuzzer target for the portable backend's URL routines.
//
// Every input is cracked, composed and canonicalized with buffers of the
// exact size each call asks for, so AddressSanitizer sees any read or write
// outside them. Besides "no crash", it checks:
//  - pointer mode and copy mode crack the same parts (file: paths aside,
//    which are copied in DOS form);
//  - a buffer one character short fails with ERROR_INSUFFICIENT_BUFFER and
//    asks for exactly one more;
//  - crack -> create -> crack gives the same parts wherever the first crack
//    succeeds (a port of 0 reads back as the scheme's default port, which is
//    what 0 stands for);
//  - every size reported for a retry is enough, and exactly enough.
//
// Input: the first byte chooses the canonicalization flags and how the rest
// is read (bit 7 set: UTF-16LE pairs; clear: one character per byte).
#include <Platform/WinInet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "url fuzzer: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

using Text = std::u16string_view;

Text View(const WCHAR* p, DWORD n) {
    return p ? Text(p, n) : Text();
}

INTERNET_PORT DefaultPortOf(INTERNET_SCHEME scheme) {
    switch (scheme) {
    case INTERNET_SCHEME_HTTP:
        return 80;
    case INTERNET_SCHEME_HTTPS:
        return 443;
    case INTERNET_SCHEME_FTP:
        return 21;
    case INTERNET_SCHEME_GOPHER:
        return 70;
    case INTERNET_SCHEME_SOCKS:
        return 1080;
    default:
        return 0;
    }
}

// The parts of a crack in pointer mode, as texts (absent parts are null).
struct Parts {
    INTERNET_SCHEME scheme;
    INTERNET_PORT port;
    const WCHAR* text[6];
    DWORD length[6];
};

URL_COMPONENTSW PointerRecord() {
    URL_COMPONENTSW uc{};
    uc.dwStructSize = sizeof uc;
    uc.dwSchemeLength = uc.dwHostNameLength = uc.dwUserNameLength = uc.dwPasswordLength = uc.dwUrlPathLength =
        uc.dwExtraInfoLength = 1;
    return uc;
}

Parts PartsOf(const URL_COMPONENTSW& uc) {
    return {
        uc.nScheme,
        uc.nPort,
        {uc.lpszScheme, uc.lpszHostName, uc.lpszUserName, uc.lpszPassword, uc.lpszUrlPath, uc.lpszExtraInfo},
        {uc.dwSchemeLength, uc.dwHostNameLength, uc.dwUserNameLength, uc.dwPasswordLength, uc.dwUrlPathLength,
         uc.dwExtraInfoLength}};
}

// Cracks in pointer mode and checks every pointer lies inside the URL.
bool CrackPointers(const std::u16string& url, Parts& parts) {
    URL_COMPONENTSW uc = PointerRecord();
    if (!InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), 0, &uc)) return false;
    parts = PartsOf(uc);
    for (int i = 0; i < 6; ++i) {
        if (!parts.text[i]) {
            Check(parts.length[i] == 0, "absent part with a length");
            continue;
        }
        Check(parts.text[i] >= url.data() && parts.text[i] + parts.length[i] <= url.data() + url.size(),
              "pointer outside the URL");
    }
    return true;
}

// Exactly sized buffers for a copy-mode crack: `extra` characters beyond
// what each part needs with its terminator (may be -1 for one part).
struct CopyBuffers {
    std::unique_ptr<WCHAR[]> buffer[6];
    URL_COMPONENTSW uc{};

    CopyBuffers(const Parts& p, int shortPart) {
        uc.dwStructSize = sizeof uc;
        LPWSTR* pointers[] = {&uc.lpszScheme,   &uc.lpszHostName, &uc.lpszUserName,
                              &uc.lpszPassword, &uc.lpszUrlPath,  &uc.lpszExtraInfo};
        DWORD* lengths[] = {&uc.dwSchemeLength,   &uc.dwHostNameLength, &uc.dwUserNameLength,
                            &uc.dwPasswordLength, &uc.dwUrlPathLength,  &uc.dwExtraInfoLength};
        for (int i = 0; i < 6; ++i) {
            // file: paths are rewritten: give them room for the longest form.
            const DWORD size = (i == 4 ? 2 * p.length[i] + 3 : p.length[i] + 1) - (i == shortPart ? 1 : 0);
            buffer[i].reset(new WCHAR[size]);
            *pointers[i] = buffer[i].get();
            *lengths[i] = size;
        }
    }
};

void CheckCopyMode(const std::u16string& url, const Parts& p) {
    CopyBuffers copy(p, -1);
    if (!InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), 0, &copy.uc))
        Fail("copy mode failed where pointer mode succeeded");
    const Parts c = PartsOf(copy.uc);
    Check(c.scheme == p.scheme && c.port == p.port, "copy mode: scheme number or port differs");
    for (int i = 0; i < 6; ++i) {
        Check(c.text[i][c.length[i]] == 0, "copy without terminator");
        if (i == 4 && p.scheme == INTERNET_SCHEME_FILE) continue;
        Check(View(c.text[i], c.length[i]) == View(p.text[i], p.length[i]), "copy mode: part differs");
    }

    // One character short for one part: fails and asks for exactly one more.
    for (int part : {0, 1, 5}) {
        if (!p.length[part]) continue;  // a length of 0 would mean "not wanted"
        CopyBuffers tight(p, part);
        SetLastError(0);
        if (InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), 0, &tight.uc))
            Fail("a buffer without room for the terminator was accepted");
        Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER, "short buffer: wrong error");
        const DWORD* lengths[] = {
            &tight.uc.dwSchemeLength,   &tight.uc.dwHostNameLength, nullptr, nullptr, nullptr,
            &tight.uc.dwExtraInfoLength};
        Check(*lengths[part] == p.length[part] + 1, "short buffer: wrong size needed");
    }
}

// Composes from the pointer-mode parts with an exactly sized buffer.
std::u16string Compose(const Parts& p, DWORD flags) {
    URL_COMPONENTSW uc{};
    uc.dwStructSize = sizeof uc;
    uc.nScheme = p.scheme;
    uc.nPort = p.port;
    LPWSTR* pointers[] = {&uc.lpszScheme,   &uc.lpszHostName, &uc.lpszUserName,
                          &uc.lpszPassword, &uc.lpszUrlPath,  &uc.lpszExtraInfo};
    DWORD* lengths[] = {&uc.dwSchemeLength,   &uc.dwHostNameLength, &uc.dwUserNameLength,
                        &uc.dwPasswordLength, &uc.dwUrlPathLength,  &uc.dwExtraInfoLength};
    // Zero-terminated copies, so a length field of 0 (empty part) is read
    // as an empty text.
    std::u16string texts[6];
    for (int i = 0; i < 6; ++i) {
        if (!p.text[i]) continue;
        texts[i].assign(p.text[i], p.length[i]);
        *pointers[i] = texts[i].data();
        *lengths[i] = p.length[i];
    }

    DWORD bytes = 0;
    SetLastError(0);
    if (InternetCreateUrlW(&uc, flags, nullptr, &bytes)) Fail("create without a buffer succeeded");
    Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER, "create: size query gave the wrong error");
    Check(bytes >= sizeof(WCHAR) && bytes % sizeof(WCHAR) == 0, "create: odd size");
    const DWORD chars = bytes / sizeof(WCHAR);

    std::unique_ptr<WCHAR[]> small(new WCHAR[chars - 1 ? chars - 1 : 1]);
    DWORD length = chars - 1;
    if (InternetCreateUrlW(&uc, flags, small.get(), &length)) Fail("create: a buffer one short was accepted");

    std::unique_ptr<WCHAR[]> buffer(new WCHAR[chars]);
    length = chars;
    if (!InternetCreateUrlW(&uc, flags, buffer.get(), &length))
        Fail("create failed with the size it asked for");
    Check(length == chars - 1 && buffer[length] == 0, "create: wrong length or terminator");
    return std::u16string(buffer.get(), length);
}

void CheckRoundTrip(const Parts& p0) {
    const std::u16string composed = Compose(p0, 0);
    Parts p1;
    if (!CrackPointers(composed, p1)) Fail("a composed URL does not crack");
    Check(p1.scheme == p0.scheme, "round trip: scheme number differs");
    Check(p1.port == p0.port || (p0.port == 0 && p1.port == DefaultPortOf(p0.scheme)),
          "round trip: port differs");
    for (int i = 0; i < 6; ++i) {
        Check(!p0.text[i] == !p1.text[i], "round trip: a part appeared or vanished");
        Check(View(p0.text[i], p0.length[i]) == View(p1.text[i], p1.length[i]), "round trip: part differs");
    }
    (void)Compose(p0, ICU_ESCAPE);
}

// Decoding cracks need buffers; give each part room for its raw length.
void CheckDecodingCrack(const std::u16string& url, const Parts& p, DWORD flags) {
    CopyBuffers copy(p, -1);
    if (!InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), flags, &copy.uc))
        Fail("a decoding crack failed where the plain one succeeded");
    const Parts c = PartsOf(copy.uc);
    for (int i = 0; i < 6; ++i) Check(c.text[i][c.length[i]] == 0, "decoded copy without terminator");
}

void CheckCanonicalize(const std::u16string& url, DWORD flags) {
    DWORD length = 1;
    WCHAR one[1];
    SetLastError(0);
    if (InternetCanonicalizeUrlW(url.c_str(), one, &length, flags)) {
        Check(length == 0 && one[0] == 0, "canonical form fits in one character but is not empty");
        return;
    }
    Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER, "canonicalize: wrong error");
    Check(length >= 2, "canonicalize: too small a size");
    const DWORD needed = length;
    std::unique_ptr<WCHAR[]> buffer(new WCHAR[needed]);
    length = needed;
    if (!InternetCanonicalizeUrlW(url.c_str(), buffer.get(), &length, flags))
        Fail("canonicalize failed with the size it asked for");
    Check(length == needed - 1 && buffer[length] == 0, "canonicalize: wrong length or terminator");
}

constexpr DWORD CanonicalFlags[] = {
    0,
    ICU_BROWSER_MODE,
    ICU_DECODE,
    ICU_DECODE | ICU_NO_ENCODE,
    ICU_ENCODE_PERCENT,
    ICU_ENCODE_SPACES_ONLY,
    ICU_NO_ENCODE,
    ICU_NO_META,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t control = data[0];
    std::u16string url;
    if (control & 0x80) {
        for (std::size_t i = 1; i + 1 < size; i += 2) url.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 1; i < size; ++i) url.push_back(char16_t(data[i]));
    }

    CheckCanonicalize(url, CanonicalFlags[control & 7]);

    Parts parts;
    if (!CrackPointers(url, parts)) {
        // Copy mode must refuse the same URLs.
        const Parts none{INTERNET_SCHEME_UNKNOWN, 0, {}, {0, 0, 0, 0, 0, 0}};
        CopyBuffers copy(none, -1);
        if (InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), 0, &copy.uc))
            Fail("copy mode succeeded where pointer mode failed");
        return 0;
    }
    CheckCopyMode(url, parts);
    CheckRoundTrip(parts);
    CheckDecodingCrack(url, parts, (control & 8) ? ICU_DECODE : ICU_ESCAPE);
    return 0;
}

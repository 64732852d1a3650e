// Request header lists and received header blocks.
#include "posix/http/Headers.h"

#include "posix/text/Ascii.h"

#include <algorithm>

namespace Corvane::Backend {

namespace {

// Blanks at the start; blanks and a line break at the end.
std::string_view TrimLine(std::string_view s) {
    return TrimEnd(TrimStart(s), " \t\r\n");
}

}  // namespace

bool SameHeaderName(std::string_view a, std::string_view b) {
    return EqualsIgnoringAsciiCase(a, b);
}

bool IsToken(std::string_view name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        if (IsAsciiAlnum(c)) return true;
        return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

const HeaderField* HeaderBlock::Find(std::string_view name, std::size_t index) const {
    for (const HeaderField& field : fields)
        if (SameHeaderName(field.name, name) && index-- == 0) return &field;
    return nullptr;
}

std::string HeaderBlock::Raw(std::string_view separator) const {
    std::string out = firstLine;
    out += separator;
    for (const HeaderField& field : fields) {
        out += field.name;
        out += ": ";
        out += field.value;
        out += separator;
    }
    out += separator;
    return out;
}

HeaderBlock HeaderBlock::Parse(std::string_view text) {
    HeaderBlock block;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            block.firstLine = line;
            first = false;
            continue;
        }
        if (line.empty()) break;
        if ((line.front() == ' ' || line.front() == '\t') && !block.fields.empty()) {
            block.fields.back().value += ' ';
            block.fields.back().value += TrimLine(line);
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == line.npos) continue;
        block.fields.push_back(
            {std::string(TrimLine(line.substr(0, colon))), std::string(TrimLine(line.substr(colon + 1)))});
    }
    return block;
}

bool ResponseHead::SetStatusLine(std::string_view line) {
    line = TrimLine(line);
    if (line.size() < 5 || line.substr(0, 5) != "HTTP/") return false;
    firstLine = line;
    fields.clear();
    const std::size_t space = line.find(' ');
    version = line.substr(0, space);
    status = 0;
    statusText.clear();
    if (space == line.npos) return true;
    std::string_view rest = line.substr(space + 1);
    std::size_t i = 0;
    while (i < rest.size() && IsAsciiDigit(rest[i]) && i < 3)
        status = status * 10 + static_cast<DWORD>(rest[i++] - '0');
    if (i < rest.size()) statusText = TrimLine(rest.substr(i));
    return true;
}

void ResponseHead::AddLine(std::string_view line) {
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        if (!fields.empty()) {
            fields.back().value += ' ';
            fields.back().value += TrimLine(line);
        }
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == line.npos) return;
    fields.push_back(
        {std::string(TrimLine(line.substr(0, colon))), std::string(TrimLine(line.substr(colon + 1)))});
}

DWORD RequestHeaders::Apply(std::string_view text, DWORD modifiers) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        // A CR or zero inside a line would smuggle a line of its own past
        // these checks.
        if (line.find('\r') != line.npos || line.find('\0') != line.npos) return ERROR_HTTP_INVALID_HEADER;
        const std::size_t colon = line.find(':');
        if (colon == line.npos) return ERROR_HTTP_INVALID_HEADER;
        const std::string_view name = TrimEnd(line.substr(0, colon));
        if (!IsToken(name)) return ERROR_HTTP_INVALID_HEADER;
        const DWORD error = ApplyOne(name, TrimLine(line.substr(colon + 1)), modifiers);
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

DWORD RequestHeaders::ApplyOne(std::string_view name, std::string_view value, DWORD modifiers) {
    const auto existing = std::find_if(FFields.begin(), FFields.end(),
                                       [&](const HeaderField& f) { return SameHeaderName(f.name, name); });
    const bool present = existing != FFields.end();
    if ((modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) && present) return ERROR_HTTP_HEADER_ALREADY_EXISTS;
    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
        if (present) {
            if (value.empty())
                FFields.erase(existing);
            else
                existing->value = value;
            return ERROR_SUCCESS;
        }
        if (!(modifiers & HTTP_ADDREQ_FLAG_ADD)) return ERROR_HTTP_HEADER_NOT_FOUND;
    } else if (present && (modifiers & (HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA |
                                        HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON))) {
        if (!value.empty()) {
            existing->value += (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA) ? ", " : "; ";
            existing->value += value;
        }
        return ERROR_SUCCESS;
    }
    if (!value.empty()) FFields.push_back({std::string(name), std::string(value)});
    return ERROR_SUCCESS;
}

void RequestHeaders::Set(std::string_view name, std::string_view value) {
    Remove(name);
    FFields.push_back({std::string(name), std::string(value)});
}

bool RequestHeaders::Has(std::string_view name) const {
    return std::any_of(FFields.begin(), FFields.end(),
                       [&](const HeaderField& f) { return SameHeaderName(f.name, name); });
}

void RequestHeaders::Remove(std::string_view name) {
    std::erase_if(FFields, [&](const HeaderField& f) { return SameHeaderName(f.name, name); });
}

}  // namespace Corvane::Backend

// INI texts and lookups whose answers the Windows profile functions define; shared by the portable
// tests and the Windows test that checks both implementations agree.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qr {

struct IniLookupCase {
    const char* label;
    std::string text;
    std::string section;
    std::string key;
    std::optional<std::string> expected;  // nothing: the default is returned
};

inline std::vector<IniLookupCase> IniLookupCases() {
    return {
        {"plain", "[VERSION]\r\nversion=101\r\n", "VERSION", "version", "101"},
        {"lf only", "[VERSION]\nversion=101\n", "VERSION", "version", "101"},
        {"case-insensitive names", "[Version]\r\nVERSION=7\r\n", "VERSION", "version", "7"},
        {"blanks trimmed", "  [ VERSION ]  \r\n  version  =   1 0 1  \r\n", "VERSION", "version", "1 0 1"},
        {"tabs trimmed", "[VERSION]\r\n\tversion\t=\t102\t\r\n", "VERSION", "version", "102"},
        {"empty value", "[VERSION]\r\nversion=\r\n", "VERSION", "version", ""},
        {"missing key", "[VERSION]\r\nother=1\r\n", "VERSION", "version", std::nullopt},
        {"missing section", "[OTHER]\r\nversion=1\r\n", "VERSION", "version", std::nullopt},
        {"key before any section", "version=1\r\n[VERSION]\r\n", "VERSION", "version", std::nullopt},
        {"first key wins", "[101]\r\n0=a.txt\r\n0=b.txt\r\n", "101", "0", "a.txt"},
        {"value with equals", "[S]\r\nurl=http://h/p?a=b\r\n", "S", "url", "http://h/p?a=b"},
        {"double quotes stripped", "[S]\r\nk=\"quoted value\"\r\n", "S", "k", "quoted value"},
        {"single quotes stripped", "[S]\r\nk='v'\r\n", "S", "k", "v"},
        {"unmatched quote kept", "[S]\r\nk=\"v\r\n", "S", "k", "\"v"},
        {"key in the next section not seen", "[A]\r\nx=1\r\n[B]\r\nk=2\r\n", "A", "k", std::nullopt},
        {"numbered keys", "[102]\r\n0=patch102.zip\r\n1=data/map01.map\r\n", "102", "1", "data/map01.map"},
        {"literal NULL", "[103]\r\n0=NULL\r\n", "103", "0", "NULL"},
        {"korean value", "[S]\r\nk=\xC6\xD0\xC4\xA1\r\n", "S", "k", "\xC6\xD0\xC4\xA1"},
        {"no final line break", "[S]\r\nk=last", "S", "k", "last"},
        {"line without equals", "[VERSION]\r\nversion\r\n", "VERSION", "version", std::nullopt},
        {"line without equals before a value", "[S]\r\nk\r\nk=5\r\n", "S", "k", std::nullopt},
        {"line without equals, other key", "[S]\r\nstray words\r\nk=5\r\n", "S", "k", "5"},
        {"line without equals, last line", "[S]\r\nk", "S", "k", std::nullopt},
    };
}

}  // namespace qr

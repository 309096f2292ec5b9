// The dialog texts of the built modules, read back from their resources,
// are the texts of their UTF-8 resource scripts: the conversion to code page
// 932 and the resource compiler lose and change nothing.
#include "platform/win.h"
#include "scaffold/version.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

namespace {

// The texts of one dialog: caption, font, then each control's text ("" for
// a control without one), in the order of the template.
struct DIALOGTEXTS {
    std::string caption;
    std::string font;
    std::vector<std::string> controls;
};

std::string Utf8(const WCHAR *pwsz, int cch)
{
    if (cch == 0) return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, NULL, 0, NULL, NULL);
    std::string text((size_t)cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, &text[0], cb, NULL, NULL);
    return text;
}

// ---------------------------------------------------------------------------
// The compiled template (DLGTEMPLATE and DLGITEMTEMPLATE, as windres writes
// them for DIALOG statements).

struct TEMPLATEREADER {
    const BYTE *p;
    const BYTE *pEnd;
    bool fOk = true;
    WORD Word()
    {
        if (p + 2 > pEnd) {
            fOk = false;
            return 0;
        }
        WORD w;
        memcpy(&w, p, 2);
        p += 2;
        return w;
    }
    void Skip(size_t cb) { p = p + cb <= pEnd ? p + cb : (fOk = false, pEnd); }
    void Align4(const BYTE *pBase) { p = pBase + (((size_t)(p - pBase) + 3) & ~(size_t)3); }
    // A string, an ordinal (0xFFFF and a word) or nothing (0).
    std::string SzOrOrd()
    {
        WORD w = Word();
        if (w == 0) return std::string();
        if (w == 0xFFFF) {
            Word();
            return "#ordinal";
        }
        std::vector<WCHAR> text(1, w);
        while (fOk && (w = Word()) != 0) text.push_back(w);
        return Utf8(text.data(), (int)text.size());
    }
};

bool ReadTemplate(const BYTE *pData, DWORD cb, DIALOGTEXTS *pTexts)
{
    TEMPLATEREADER r{pData, pData + cb};
    DWORD dwStyle;
    memcpy(&dwStyle, pData, 4);
    if (cb >= 4 && pData[2] == 0xFF && pData[3] == 0xFF) return false;  // DIALOGEX is not used
    r.Skip(8);  // style, extended style
    WORD cItems = r.Word();
    r.Skip(8);  // x, y, cx, cy
    r.SzOrOrd();  // menu
    r.SzOrOrd();  // class
    pTexts->caption = r.SzOrOrd();
    if (dwStyle & DS_SETFONT) {
        r.Word();  // point size
        pTexts->font = r.SzOrOrd();
    }
    for (WORD i = 0; i < cItems && r.fOk; i++) {
        r.Align4(pData);
        r.Skip(8 + 8 + 2);  // style, extended style, x, y, cx, cy, id
        r.SzOrOrd();  // class
        pTexts->controls.push_back(r.SzOrOrd());
        WORD cbExtra = r.Word();
        r.Skip(cbExtra);
    }
    return r.fOk;
}

std::map<int, DIALOGTEXTS> BuiltDialogs(const std::string &module)
{
    std::map<int, DIALOGTEXTS> dialogs;
    HMODULE h = LoadLibraryExA(module.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!h) return dialogs;
    struct Enum {
        static BOOL CALLBACK Name(HMODULE hModule, LPCSTR pszType, LPSTR pszName, LONG_PTR lParam)
        {
            auto *pDialogs = reinterpret_cast<std::map<int, DIALOGTEXTS> *>(lParam);
            if (!IS_INTRESOURCE(pszName)) return TRUE;
            HRSRC hRes = FindResourceA(hModule, pszName, pszType);
            HGLOBAL hData = hRes ? LoadResource(hModule, hRes) : NULL;
            const BYTE *pData = hData ? static_cast<const BYTE *>(LockResource(hData)) : NULL;
            DIALOGTEXTS texts;
            if (pData && ReadTemplate(pData, SizeofResource(hModule, hRes), &texts))
                (*pDialogs)[(int)(INT_PTR)pszName] = texts;
            return TRUE;
        }
    };
    EnumResourceNamesA(h, RT_DIALOG, Enum::Name, (LONG_PTR)&dialogs);
    FreeLibrary(h);
    return dialogs;
}

// ---------------------------------------------------------------------------
// The UTF-8 script.

// The scripts and the headers they include, copied beside the tests with
// their folders.
std::string SourcePath(const std::string &relative)
{
    std::string path = JoinPath(TestDataFolder(), "rc");
    size_t at = 0;
    while (at <= relative.size()) {
        size_t end = relative.find('/', at);
        if (end == std::string::npos) end = relative.size();
        path = JoinPath(path, relative.substr(at, end - at));
        at = end + 1;
    }
    return path;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// The first string literal of a line, with its escapes resolved; false when
// the line has none.
bool FirstString(const std::string &line, std::string *pText)
{
    size_t at = line.find('"');
    if (at == std::string::npos) return false;
    pText->clear();
    for (size_t i = at + 1; i < line.size(); i++) {
        char c = line[i];
        if (c == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                *pText += '"';
                i++;
                continue;
            }
            return true;
        }
        if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            *pText += e == 'n' ? '\n' : e == 't' ? '\t' : e;
            continue;
        }
        *pText += c;
    }
    return false;
}

std::string FirstWord(const std::string &line)
{
    size_t from = line.find_first_not_of(" \t");
    if (from == std::string::npos) return std::string();
    size_t to = line.find_first_of(" \t,", from);
    return line.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

std::map<std::string, int> Defines(const std::string &script)
{
    std::map<std::string, int> defines;
    for (const std::string &line : Lines(ReadText(script))) {
        std::string include;
        if (line.compare(0, 9, "#include ") == 0 && FirstString(line, &include)) {
            for (const auto &entry : Defines(SourcePath(include))) defines.insert(entry);
        } else if (line.compare(0, 8, "#define ") == 0) {
            char szName[128];
            int nValue;
            if (sscanf(line.c_str() + 8, "%127s %i", szName, &nValue) == 2) defines[szName] = nValue;
        }
    }
    return defines;
}

std::map<int, DIALOGTEXTS> ScriptDialogs(const std::string &script)
{
    static const char *const s_apszWithText[] = {"PUSHBUTTON", "DEFPUSHBUTTON", "GROUPBOX",     "LTEXT",
                                                 "RTEXT",      "CTEXT",         "AUTOCHECKBOX", "CHECKBOX",
                                                 "AUTORADIOBUTTON", "RADIOBUTTON", "CONTROL",  "ICON"};
    static const char *const s_apszWithout[] = {"EDITTEXT", "COMBOBOX", "LISTBOX", "SCROLLBAR"};
    std::map<std::string, int> defines = Defines(script);
    std::map<int, DIALOGTEXTS> dialogs;
    DIALOGTEXTS *pDialog = NULL;
    bool fInBody = false;
    for (const std::string &line : Lines(ReadText(script))) {
        std::string word = FirstWord(line);
        size_t dialogAt = line.find(" DIALOG ");
        if (!fInBody && dialogAt != std::string::npos) {
            std::string name = line.substr(0, dialogAt);
            int nId = defines.count(name) ? defines[name] : atoi(name.c_str());
            pDialog = &dialogs[nId];
            continue;
        }
        if (!pDialog) continue;
        std::string text;
        if (!fInBody && word == "CAPTION" && FirstString(line, &text)) pDialog->caption = text;
        else if (!fInBody && word == "FONT" && FirstString(line, &text)) pDialog->font = text;
        else if (word == "BEGIN") fInBody = true;
        else if (word == "END") {
            fInBody = false;
            pDialog = NULL;
        } else if (fInBody) {
            for (const char *pszKind : s_apszWithText)
                if (word == pszKind) pDialog->controls.push_back(FirstString(line, &text) ? text : std::string());
            for (const char *pszKind : s_apszWithout)
                if (word == pszKind) pDialog->controls.push_back(std::string());
        }
    }
    return dialogs;
}

// The modules beside the tests, or those of another build: a program of one
// width reads the resources of the other width's modules as data, where
// that width cannot run.
std::string ModuleFolder()
{
    const char *pszFolder = getenv("SPOOL_MODULE_FOLDER");
    return pszFolder && *pszFolder ? std::string(pszFolder) : TestBinFolder();
}

void ExpectSameTexts(const std::string &module, const std::string &script)
{
    SCOPED_TRACE(module);
    std::map<int, DIALOGTEXTS> built = BuiltDialogs(JoinPath(ModuleFolder(), module));
    std::map<int, DIALOGTEXTS> source = ScriptDialogs(SourcePath(script));
    ASSERT_FALSE(source.empty());
    ASSERT_EQ(built.size(), source.size());
    for (const auto &entry : source) {
        SCOPED_TRACE(entry.first);
        ASSERT_EQ(built.count(entry.first), 1u);
        const DIALOGTEXTS &b = built[entry.first];
        EXPECT_EQ(b.caption, entry.second.caption);
        EXPECT_EQ(b.font, entry.second.font);
        EXPECT_EQ(b.controls, entry.second.controls);
    }
}

TEST(ResourceTexts, SpoolcapDialogs) { ExpectSameTexts("spoolcap.dll", "codec/spoolcap.rc"); }
TEST(ResourceTexts, VfwprobeDialogs) { ExpectSameTexts("Vfwprobe.exe", "lister/vfwprobe.rc"); }
TEST(ResourceTexts, SpoolmendDialogs) { ExpectSameTexts("Spoolmend.exe", "salvage/spoolmend.rc"); }
TEST(ResourceTexts, SpoolshiftDialog) { ExpectSameTexts("Spoolshift.exe", "mover/spoolshift.rc"); }

// Each module's version resource: its numbers and its texts are the
// product's version, as the file's properties show them.
TEST(ResourceTexts, VersionResources)
{
    unsigned uMajor = 0, uMinor = 0;
    ASSERT_EQ(sscanf(PRODUCT_VERSION, "%u.%u", &uMajor, &uMinor), 2);
    const WORD awNumbers[] = {PRODUCT_VERSION_NUMBERS};
    EXPECT_EQ(awNumbers[0], uMajor);
    EXPECT_EQ(awNumbers[1], uMinor);
    for (const char *pszModule : {"spoolcap.dll", "Vfwprobe.exe", "Spoolmend.exe", "Spoolshift.exe", "spool.exe"}) {
        SCOPED_TRACE(pszModule);
        std::string path = JoinPath(ModuleFolder(), pszModule);
        DWORD dwHandle = 0, cb = GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
        ASSERT_GT(cb, 0u);
        std::vector<BYTE> info(cb);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, cb, info.data()));
        VS_FIXEDFILEINFO *pFixed = NULL;
        UINT cbFixed = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&pFixed, &cbFixed));
        EXPECT_EQ(pFixed->dwFileVersionMS, (DWORD)((uMajor << 16) | uMinor));
        EXPECT_EQ(pFixed->dwProductVersionMS, (DWORD)((uMajor << 16) | uMinor));
        for (const char *pszKey : {"FileVersion", "ProductVersion", "ProductName", "OriginalFilename", "FileDescription"}) {
            char *pszValue = NULL;
            UINT cch = 0;
            std::string query = std::string("\\StringFileInfo\\041104B0\\") + pszKey;
            ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), (void **)&pszValue, &cch)) << pszKey;
            std::string value(pszValue);
            if (strstr(pszKey, "Version")) EXPECT_EQ(value, PRODUCT_VERSION);
            else if (strcmp(pszKey, "ProductName") == 0) EXPECT_EQ(value, "Spoolcap");
            else if (strcmp(pszKey, "OriginalFilename") == 0) EXPECT_EQ(value, pszModule);
            else EXPECT_GT(value.size(), strlen(pszModule) / 2) << "a description";
        }
    }
}

}  // namespace

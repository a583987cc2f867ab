#include "framework/language.h"

#include <cstdio>
#include <mutex>

#include "framework/system_services.h"
#include "platform/file_system.h"
#include "platform/library.h"
#include "platform/profile.h"
#include "support/kv_path.h"

namespace {

struct LocaleEntry {
  uint16_t langId;
  const char* name;
};

// The locale names of language identifiers, as the suite has always named
// them (sk_K for Slovak included).
constexpr LocaleEntry kLocaleNames[] = {
    {0x0401, "ar_SA"}, {0x0402, "bg_BG"}, {0x0403, "ca_ES"}, {0x0404, "zh_TW"}, {0x0405, "cs_CZ"},
    {0x0406, "da_DK"}, {0x0407, "de_DE"}, {0x0408, "el_GR"}, {0x0409, "en_US"}, {0x040A, "es_ES"},
    {0x040B, "fi_FI"}, {0x040C, "fr_FR"}, {0x040D, "he_IL"}, {0x040E, "hu_HU"}, {0x040F, "is_IS"},
    {0x0410, "it_IT"}, {0x0411, "ja_JP"}, {0x0412, "ko_KR"}, {0x0413, "nl_NL"}, {0x0414, "no_NO"},
    {0x0415, "pl_PL"}, {0x0416, "pt_BR"}, {0x0417, "rm_CH"}, {0x0418, "ro_RO"}, {0x0419, "ru_RU"},
    {0x041A, "hr_HR"}, {0x041B, "sk_K"},  {0x041C, "sq_AL"}, {0x041D, "sv_SE"}, {0x041E, "th_TH"},
    {0x041F, "tr_TR"}, {0x0420, "ur_PK"}, {0x0421, "id_ID"}, {0x0422, "uk_UA"}, {0x0423, "be_BY"},
    {0x0424, "sl_SI"}, {0x0425, "et_EE"}, {0x0426, "lv_LV"}, {0x0427, "lt_LT"}, {0x0428, "tg_TJ"},
    {0x0429, "fa_IR"}, {0x042A, "vi_VN"}, {0x042B, "hy_AM"}, {0x042C, "az_AZ"}, {0x042D, "eu_ES"},
    {0x042E, "hsb_DE"}, {0x042F, "mk_MK"}, {0x0430, "nso_ZA"}, {0x0431, "ts_TS"}, {0x0432, "tn_ZA"},
    {0x0434, "xh_ZA"}, {0x0435, "zu_ZA"}, {0x0436, "af_ZA"}, {0x0437, "ka_GE"}, {0x0438, "fo_FO"},
    {0x0439, "hi_IN"}, {0x043A, "mt_MT"}, {0x043B, "se_FI"}, {0x043E, "ms_MY"}, {0x043F, "kk_KZ"},
    {0x0440, "ky_KG"}, {0x0441, "sw_KE"}, {0x0442, "tk_TM"}, {0x0443, "uz_UZ"}, {0x0444, "tt_RU"},
    {0x0445, "bn_IN"}, {0x0446, "pa_IN"}, {0x0447, "gu_IN"}, {0x0448, "or_IN"}, {0x0449, "ta_IN"},
    {0x044A, "te_IN"}, {0x044B, "kn_IN"}, {0x044C, "ml_IN"}, {0x044D, "as_IN"}, {0x044E, "mr_IN"},
    {0x044F, "sa_IN"}, {0x0450, "mn_MN"}, {0x0451, "bo_CN"}, {0x0452, "cy_GB"}, {0x0453, "kh_KH"},
    {0x0454, "lo_LA"}, {0x0456, "gl_ES"}, {0x0457, "kok_IN"}, {0x045A, "syr_SY"}, {0x045B, "si_LK"},
    {0x045E, "am_ET"}, {0x0460, "ks_IN"}, {0x0461, "ne_NP"}, {0x0462, "fy_NL"}, {0x0464, "fil_PH"},
    {0x0465, "dv_MV"}, {0x0470, "ig_NG"}, {0x0481, "mi_NZ"}, {0x0801, "ar_IQ"}, {0x0804, "zh_CN"},
    {0x0807, "de_CH"}, {0x0809, "en_GB"}, {0x080A, "es_MX"}, {0x080C, "fr_BE"}, {0x0810, "it_CH"},
    {0x0813, "nl_BE"}, {0x0814, "no_NO"}, {0x0816, "pt_PT"}, {0x0818, "ro_MO"}, {0x0819, "ru_MO"},
    {0x081A, "sr_SP"}, {0x081D, "sv_FI"}, {0x0820, "ur_IN"}, {0x082C, "az_AZ"}, {0x082E, "dsb_DE"},
    {0x083B, "se_SE"}, {0x083C, "gd_IE"}, {0x083E, "ms_BN"}, {0x0843, "uz_UZ"}, {0x0845, "bn_BN"},
    {0x0850, "mn_MN"}, {0x0C01, "ar_EG"}, {0x0C07, "de_AT"}, {0x0C09, "en_AU"}, {0x0C0A, "es_ES"},
    {0x0C1A, "sr_SP"}, {0x0C3B, "se_FI"}, {0x1004, "zh_SG"}, {0x1007, "de_LU"}, {0x1009, "en_CA"},
    {0x100A, "es_GT"}, {0x100C, "fr_CH"}, {0x103B, "smj_NO"}, {0x1401, "ar_DZ"}, {0x1407, "de_LI"},
    {0x1409, "en_NZ"}, {0x140A, "es_CR"}, {0x140C, "fr_LU"}, {0x141A, "bs_BA"}, {0x143B, "smj_SE"},
    {0x1801, "ar_MA"}, {0x1809, "en_IE"}, {0x180A, "es_PA"}, {0x180C, "fr_MC"}, {0x183B, "sma_NO"},
    {0x1C01, "ar_TN"}, {0x1C09, "en_ZA"}, {0x1C0A, "es_DO"}, {0x1C0C, "fr_FR"}, {0x1C3B, "sma_SE"},
    {0x2001, "ar_OM"}, {0x2009, "en_JM"}, {0x203B, "sms_FI"}, {0x2401, "ar_YE"}, {0x2409, "en_CB"},
    {0x240A, "es_CO"}, {0x240C, "fr_FR"}, {0x243B, "smn_FI"}, {0x2801, "ar_SY"}, {0x2809, "en_BZ"},
    {0x280C, "fr_SN"}, {0x2C01, "ar_JO"}, {0x2C09, "en_TT"}, {0x2C0A, "es_AR"}, {0x2C0C, "fr_FR"},
    {0x3001, "ar_LB"}, {0x3009, "en_ZW"}, {0x300A, "es_EC"}, {0x3401, "ar_KW"}, {0x3409, "en_PH"},
    {0x340C, "fr_FR"}, {0x380A, "es_UY"}, {0x380C, "fr_MA"}, {0x3C01, "ar_BH"}, {0x4001, "ar_QA"},
    {0x4009, "en_IN"}, {0x400A, "es_BO"}, {0x480A, "es_HN"}, {0x4C0A, "es_NI"}, {0x500A, "es_PR"},
};
static_assert(sizeof(kLocaleNames) / sizeof(kLocaleNames[0]) == 175, "the whole table");

std::u16string Widen(const char* text) {
  std::u16string out;
  while (*text) out.push_back(static_cast<unsigned char>(*text++));
  return out;
}

std::mutex g_lock;
platform::ResourceModule g_own = nullptr;
platform::ResourceModule g_languageModule = nullptr;
platform::LibraryHandle g_languageLibrary = nullptr;
bool g_searchDone = false;
bool g_ownsLanguageModule = false;
int g_tempNumber = 0;

// Loads path as a language library; true when it holds texts.
bool TryLanguageLibrary(const std::u16string& path) {
  platform::LibraryHandle library = platform::LoadLibrary(path);
  if (library == nullptr) return false;
  platform::ResourceModule resources = platform::ResourceModuleOfLibrary(library);
  if (resources == nullptr) {
    platform::FreeLibrary(library);
    return false;
  }
  g_languageLibrary = library;
  g_languageModule = resources;
  g_ownsLanguageModule = true;
  return true;
}

}  // namespace

void SetOwnResourceModule(platform::ResourceModule own) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_own = own;
}

platform::ResourceModule OwnResourceModuleOfLibrary() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_own;
}

std::u16string LocaleNameOf(uint16_t langId) {
  for (const LocaleEntry& entry : kLocaleNames)
    if (entry.langId == langId) return Widen(entry.name);
  char text[16];
  std::snprintf(text, sizeof(text), "[%X]", langId);
  return Widen(text);
}

std::u16string UserLocaleName(platform::System* system) {
  return LocaleNameOf(system->GetUserDefaultLangID());
}

uint32_t EmbeddedLanguageId(uint16_t langId) {
  const uint32_t primary = langId & 0x3FF;
  if (primary == 4) {
    const uint32_t id = 8000 + (langId >> 10);
    return id > 8002 ? 8001 : id;
  }
  return 2000 + primary;
}

std::vector<std::u16string> LanguageCandidates(std::u16string_view modulePath,
                                               std::u16string_view language) {
  const size_t dot = modulePath.find_last_of(u'.');
  const std::u16string base(dot == std::u16string_view::npos ? modulePath
                                                             : modulePath.substr(0, dot));
  const std::u16string full = base + u"_" + std::u16string(language);
  const size_t cut = full.find_last_of(u'_');
  const std::u16string shortened = full.substr(0, cut);
  std::vector<std::u16string> names{full + u".dll", shortened + u".dll"};
  // The same names in the "language" folder beside the module, when the base
  // has a folder at all.
  const size_t slash = base.find_last_of(u'\\');
  if (slash != std::u16string::npos && slash > 0) {
    auto inFolder = [&](const std::u16string& name) {
      return name.substr(0, slash) + u"\\language" + name.substr(slash);
    };
    names.push_back(inFolder(full) + u".dll");
    names.push_back(inFolder(shortened) + u".dll");
  }
  return names;
}

std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue, std::u16string_view path,
                                 platform::System* system) {
  std::u16string file(path);
  if (file.empty()) file = KvOSAL::ParentFolder(GetHostFilePath(system)) + u"\\install.cfg";
  return platform::GetPrivateProfileString(section, key, defaultValue, file);
}

uint32_t ExtractResourceToFile(platform::ResourceModule module, uint32_t id,
                               std::u16string_view path, std::u16string_view type) {
  std::string bytes;
  if (!platform::LoadRawResource(module, type, id, &bytes)) return 13;
  platform::FileSystem* fs = platform::FileSystem::Default();
  platform::FileHandle file =
      fs->CreateFile(path, platform::kGenericRead | platform::kGenericWrite,
                     platform::kFileShareRead | platform::kFileShareWrite, platform::kCreateAlways);
  if (file == nullptr) return fs->GetLastError();
  uint32_t result = fs->GetLastError();
  uint32_t written = 0;
  const bool ok = fs->WriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  if (ok) fs->FlushFileBuffers(file);
  result = ok ? result : fs->GetLastError();
  fs->CloseHandle(file);
  if (!ok || written != bytes.size()) fs->DeleteFile(path);
  return result == platform::kErrorAlreadyExists ? 0 : result;
}

platform::ResourceModule GetLanguageResourceModule(platform::System* system) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_languageModule != nullptr) return g_languageModule;
  if (g_searchDone) return g_own;
  g_searchDone = true;

  const uint16_t langId = system->GetUserDefaultLangID();
  const uint32_t embedded = EmbeddedLanguageId(langId);
  if (embedded > 2000) {
    std::u16string temp = system->GetTempPath();
    while (!temp.empty() && temp.back() == u'\\') temp.pop_back();
    char number[32];
    std::snprintf(number, sizeof(number), "%d", ++g_tempNumber);
    const std::u16string name = temp + u"\\RtFramework_" + Widen(number) + u".tmp";
    platform::FileSystem::Default()->DeleteFile(name);
    if (ExtractResourceToFile(g_own, embedded, name, u"DATA") != 13 && TryLanguageLibrary(name))
      return g_languageModule;
  }

  const std::u16string modulePath = GetModuleFilePath(system);
  if (modulePath.empty()) return g_own;
  const std::u16string language =
      ReadProfileString(u"install", u"Language", LocaleNameOf(langId), u"", system);
  for (const std::u16string& candidate : LanguageCandidates(modulePath, language))
    if (TryLanguageLibrary(candidate)) return g_languageModule;
  return g_own;
}

void ReleaseLanguageModule() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_ownsLanguageModule && g_languageLibrary != nullptr) platform::FreeLibrary(g_languageLibrary);
  g_languageLibrary = nullptr;
  g_languageModule = nullptr;
  g_ownsLanguageModule = false;
  g_searchDone = false;
}

#include "platform/posix/processes_posix.h"

#include <cstring>

#include "platform/system.h"
#include "platform/unicode.h"

namespace platform::posix {

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> arguments;
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= n) break;
    std::u16string argument;
    bool quoted = false;
    while (i < n) {
      const char16_t c = line[i];
      if (!quoted && (c == u' ' || c == u'\t')) break;
      if (c == u'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == u'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          argument.append(slashes / 2, u'\\');
          if (slashes % 2 == 1) {
            argument.push_back(u'"');
            ++i;
          }
        } else {
          argument.append(slashes, u'\\');
        }
        continue;
      }
      if (c == u'"') {
        if (quoted && i + 1 < n && line[i + 1] == u'"') {
          argument.push_back(u'"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      argument.push_back(c);
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

namespace {

struct LocaleId {
  const char* name;
  uint16_t langId;
};

// Locales with a country, as Windows numbers them.
constexpr LocaleId kLocales[] = {
    {"ar_SA", 0x0401}, {"bg_BG", 0x0402}, {"ca_ES", 0x0403}, {"zh_TW", 0x0404},
    {"cs_CZ", 0x0405}, {"da_DK", 0x0406}, {"de_DE", 0x0407}, {"el_GR", 0x0408},
    {"en_US", 0x0409}, {"es_ES", 0x0C0A}, {"fi_FI", 0x040B}, {"fr_FR", 0x040C},
    {"he_IL", 0x040D}, {"hu_HU", 0x040E}, {"is_IS", 0x040F}, {"it_IT", 0x0410},
    {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"nl_NL", 0x0413}, {"nb_NO", 0x0414},
    {"no_NO", 0x0414}, {"pl_PL", 0x0415}, {"pt_BR", 0x0416}, {"ro_RO", 0x0418},
    {"ru_RU", 0x0419}, {"hr_HR", 0x041A}, {"sk_SK", 0x041B}, {"sq_AL", 0x041C},
    {"sv_SE", 0x041D}, {"th_TH", 0x041E}, {"tr_TR", 0x041F}, {"id_ID", 0x0421},
    {"uk_UA", 0x0422}, {"be_BY", 0x0423}, {"sl_SI", 0x0424}, {"et_EE", 0x0425},
    {"lv_LV", 0x0426}, {"lt_LT", 0x0427}, {"fa_IR", 0x0429}, {"vi_VN", 0x042A},
    {"eu_ES", 0x042D}, {"mk_MK", 0x042F}, {"af_ZA", 0x0436}, {"hi_IN", 0x0439},
    {"ms_MY", 0x043E}, {"gl_ES", 0x0456}, {"zh_CN", 0x0804}, {"de_CH", 0x0807},
    {"en_GB", 0x0809}, {"es_MX", 0x080A}, {"fr_BE", 0x080C}, {"it_CH", 0x0810},
    {"nl_BE", 0x0813}, {"nn_NO", 0x0814}, {"pt_PT", 0x0816}, {"sv_FI", 0x081D},
    {"zh_HK", 0x0C04}, {"de_AT", 0x0C07}, {"en_AU", 0x0C09}, {"fr_CA", 0x0C0C},
    {"zh_SG", 0x1004}, {"de_LU", 0x1007}, {"en_CA", 0x1009}, {"fr_CH", 0x100C},
    {"de_LI", 0x1407}, {"en_NZ", 0x1409}, {"fr_LU", 0x140C}, {"en_IE", 0x1809},
    {"fr_MC", 0x180C}, {"en_ZA", 0x1C09}, {"es_AR", 0x2C0A}, {"en_IN", 0x4009},
};

// Primary language identifiers for a locale whose country is not listed.
constexpr LocaleId kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C},
    {"he", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12},
    {"nl", 0x13}, {"nb", 0x14}, {"nn", 0x14}, {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16},
    {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sk", 0x1B}, {"sq", 0x1C}, {"sv", 0x1D},
    {"th", 0x1E}, {"tr", 0x1F}, {"id", 0x21}, {"uk", 0x22}, {"be", 0x23}, {"sl", 0x24},
    {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"fa", 0x29}, {"vi", 0x2A}, {"eu", 0x2D},
    {"mk", 0x2F}, {"af", 0x36}, {"hi", 0x39}, {"ms", 0x3E}, {"gl", 0x56},
};

}  // namespace

uint16_t LangIdOfLocale(std::string_view locale) {
  // Drop ".codeset" and "@modifier".
  const size_t cut = locale.find_first_of(".@");
  if (cut != std::string_view::npos) locale = locale.substr(0, cut);
  if (locale.empty() || locale == "C" || locale == "POSIX") return 0x0409;
  for (const LocaleId& entry : kLocales)
    if (locale == entry.name) return entry.langId;
  const std::string_view language = locale.substr(0, locale.find('_'));
  for (const LocaleId& entry : kLanguages)
    if (language == entry.name) return static_cast<uint16_t>((1 << 10) | entry.langId);
  return 0x0409;
}

}  // namespace platform::posix

namespace platform {

bool SameProgramName(std::u16string_view running, std::u16string_view wanted) {
  if (AsciiEqualsIgnoreCase(running, wanted)) return true;
  constexpr std::u16string_view kExe = u".exe";
  return wanted.size() > kExe.size() &&
         AsciiEqualsIgnoreCase(wanted.substr(wanted.size() - kExe.size()), kExe) &&
         AsciiEqualsIgnoreCase(running, wanted.substr(0, wanted.size() - kExe.size()));
}

}  // namespace platform

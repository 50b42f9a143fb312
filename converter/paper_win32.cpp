#include <windows.h>

#include <cstdlib>

#include "converter/paper.h"

namespace pageout::converter {

// LOCALE_IPAPERSIZE holds the DMPAPER_* number of the user's default paper as text.
PaperSize SystemDefaultPaper() {
  char value[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IPAPERSIZE, value, sizeof value) > 0) {
    switch (std::atoi(value)) {
      case DMPAPER_A4: return kA4;
      case DMPAPER_A3: return kA3;
      case DMPAPER_LEGAL: return {612000, 1008000};
      default: break;
    }
  }
  return kLetter;
}

}  // namespace pageout::converter

/* Detects the machine's BIOS, reads a BIOS image file and says whether the
 * image suits this board and is newer. Build with MinGW:
 *   i686-w64-mingw32-gcc -std=c99 -Wl,--disable-stdcall-fixup compare_bios.c -Iinclude -Llib -lORRIVANE
 * or with Microsoft's compiler: cl compare_bios.c /Iinclude lib\ORRIVANE.lib
 * Run it beside ORRIVANE.DLL, the service library and the access driver. */
#include <ctype.h>
#include <stdio.h>

#include "orrivane.h"

/* Date codes come in two forms: years since 1900 for a two-digit year
 * (1091120 is 2009-11-20) and the calendar year for a four-digit one
 * (20091120). Both become yyyymmdd before they are compared. */
static uint32_t CalendarDate(uint32_t dateCode) {
  uint32_t year = dateCode / 10000;
  if (year < 1000) year += 1900;
  return year * 10000 + dateCode % 10000;
}

static int SameModel(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (toupper((unsigned char)*a) != toupper((unsigned char)*b)) return 0;
  return *a == *b;
}

int main(int argc, char** argv) {
  /* Buffers at least as large as the library's fields. */
  char model[60], altModel[60], id[100], version[60], date[30], description[32];
  char imageModel[60], imageId[100], imageVersion[60], imageDate[32];
  uint32_t dateCode = 0, extended = 0, imageDateCode = 0, fromRecord = 0;

  if (argc != 2) {
    fprintf(stderr, "usage: compare_bios IMAGE\n");
    return 2;
  }
  /* The detection first: every query below answers 0 until it succeeds. */
  if (Orrivane_Initialize() != 1) {
    fprintf(stderr, "this machine's BIOS was not detected\n");
    return 2;
  }
  Orrivane_GetBIOSROMInfo(model, id, version, date, &dateCode, &extended, 0, description);
  Orrivane_GetBIOSROMInfo(altModel, NULL, NULL, NULL, NULL, NULL, 1, NULL);
  printf("machine: %s %s %s (%s)\n", model, version, date, id);

  uint32_t result = Orrivane_GetBIOSFileInfo(argv[1], imageModel, imageId, imageVersion, imageDate,
                                             &imageDateCode, &fromRecord);
  if (result != ORRIVANE_OK) {
    fprintf(stderr, "%s: the image analysis failed with %u\n", argv[1], (unsigned)result);
    return 2;
  }
  printf("image:   %s %s %s (%s), build %u\n", imageModel, imageVersion, imageDate, imageId,
         (unsigned)Orrivane_GetROMbuildVersion());

  if (imageModel[0] == '\0' || (!SameModel(imageModel, model) && !SameModel(imageModel, altModel))) {
    printf("the image is for another board\n");
    return 1;
  }
  uint32_t machineDay = CalendarDate(dateCode), imageDay = CalendarDate(imageDateCode);
  printf("the image is %s\n", imageDay > machineDay ? "newer" : imageDay == machineDay ? "the same" : "older");
  Orrivane_Uninitialize();
  return imageDay > machineDay ? 0 : 1;
}

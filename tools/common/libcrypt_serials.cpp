// Serials of the discs known to check LibCrypt protection, as the boot file names them
// ("SLES_020.80" gives SLES02080). The list is taken from the discs that libcrypt-patcher supports
// (https://github.com/alex-free/libcrypt-patcher, its patch names), under its licence:
//
//   Copyright (c) 2023-2024, Alex Free. All rights reserved. BSD 3-Clause License; the full
//   notice and conditions are in packaging/copyright.
//
// Betas, prototypes and revisions count under their serial.
#include "libcrypt.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace kivo::libcrypt {

namespace {

// Sorted, so that a lookup is a binary search.
const char* const kProtected[] = {
    "SCES00311", "SCES01431", "SCES01444", "SCES01492", "SCES01493", "SCES01494", "SCES01495", "SCES01516", "SCES01517",
    "SCES01518", "SCES01519", "SCES01564", "SCES01695", "SCES01700", "SCES01701", "SCES01702", "SCES01703", "SCES01704",
    "SCES01753", "SCES01763", "SCES01882", "SCES01909", "SCES01979", "SCES02004", "SCES02005", "SCES02006", "SCES02007",
    "SCES02028", "SCES02029", "SCES02030", "SCES02031", "SCES02104", "SCES02105", "SCES02181", "SCES02182", "SCES02184",
    "SCES02185", "SCES02222", "SCES02264", "SCES02269", "SCES02290", "SCES02365", "SCES02366", "SCES02367", "SCES02368",
    "SCES02369", "SCES02430", "SCES02431", "SCES02432", "SCES02433", "SCES02487", "SCES02488", "SCES02489", "SCES02490",
    "SCES02491", "SCES02544", "SCES02545", "SCES02546", "SCES02834", "SCES02835", "SCES03010", "SCES03011", "SCES03012",
    "SCES03013", "SCES03014", "SCES03015", "SCES03016", "SCES03017", "SCES03018", "SCES03019", "SLES00017", "SLES00995",
    "SLES01041", "SLES01226", "SLES01241", "SLES01301", "SLES01362", "SLES01545", "SLES01715", "SLES01733", "SLES01906",
    "SLES01907", "SLES01943", "SLES02024", "SLES02025", "SLES02026", "SLES02027", "SLES02061", "SLES02071", "SLES02080",
    "SLES02081", "SLES02084", "SLES02086", "SLES02112", "SLES02113", "SLES02118", "SLES02207", "SLES02208", "SLES02209",
    "SLES02210", "SLES02211", "SLES02292", "SLES02293", "SLES02328", "SLES02329", "SLES02330", "SLES02354", "SLES02355",
    "SLES02395", "SLES02396", "SLES02402", "SLES02529", "SLES02530", "SLES02531", "SLES02532", "SLES02533", "SLES02538",
    "SLES02563", "SLES02572", "SLES02573", "SLES02681", "SLES02688", "SLES02689", "SLES02698", "SLES02700", "SLES02704",
    "SLES02705", "SLES02706", "SLES02707", "SLES02708", "SLES02722", "SLES02723", "SLES02724", "SLES02733", "SLES02754",
    "SLES02755", "SLES02756", "SLES02763", "SLES02766", "SLES02767", "SLES02768", "SLES02769", "SLES02824", "SLES02830",
    "SLES02831", "SLES02839", "SLES02857", "SLES02858", "SLES02859", "SLES02860", "SLES02861", "SLES02862", "SLES02965",
    "SLES02966", "SLES02967", "SLES02968", "SLES02969", "SLES02975", "SLES02976", "SLES02977", "SLES02978", "SLES02979",
    "SLES03061", "SLES03062", "SLES03189", "SLES03190", "SLES03191", "SLES03241", "SLES03242", "SLES03243", "SLES03244",
    "SLES03245", "SLES03324", "SLES03489", "SLES03519", "SLES03520", "SLES03521", "SLES03522", "SLES03523", "SLES03530",
    "SLES03603", "SLES03604", "SLES03605", "SLES03606", "SLES03607", "SLES03626", "SLES03648", "SLES12080", "SLES12081",
    "SLES12084", "SLES12328", "SLES12329", "SLES12330", "SLES12965", "SLES12966", "SLES12967", "SLES12968", "SLES12969",
    "SLES22080", "SLES22081", "SLES22084", "SLES22328", "SLES22329", "SLES22330", "SLES22965", "SLES22966", "SLES22967",
    "SLES22968", "SLES22969", "SLES32080", "SLES32081", "SLES32084", "SLES32965", "SLES32966", "SLES32967", "SLES32968",
    "SLES32969",
};

} // namespace

bool knownProtected(const std::string& serial) {
  std::string id;
  for (char c : serial)
    if (std::isalnum(static_cast<unsigned char>(c))) id += char(std::toupper(static_cast<unsigned char>(c)));
  return std::binary_search(std::begin(kProtected), std::end(kProtected), id,
                            [](const auto& a, const auto& b) { return std::string(a) < std::string(b); });
}

size_t knownProtectedCount() {
  return std::size(kProtected);
}

} // namespace kivo::libcrypt

// Command ids of the converter window's controls (also used by the tests that
// drive the window from another process).
#pragma once

namespace pravik::win32 {

enum TControlId : int {
  idOnTop = 100,      // the "Always on top" switch
  idGroupFormat = 101,
  idFormatFirst = 110,  // r_Format items: idFormatFirst + item index (14 items)
  idPageControl = 130,
  idPageFirst = 131,    // the four tab sheets: idPageFirst + page index
  idTrackBar = 140,
  idQualityPer = 141,
  idIconFirst = 150,    // chkIcon boxes: idIconFirst + box index (3 boxes)
  idName = 160,
  idSave = 170,
  idBrowse = 171,
  idConvert = 180,
  idCancel = 181,
  idLabelCurrent = 190,
  idLabelTotal = 191,
  idLabelStatus = 192,
  idBarConversion = 195,
  idBarTotal = 196,
  idStatus = 197,
  idLink = 198,
};

// The system menu's "Always on top" command (system menu ids keep the low four bits free).
inline constexpr unsigned kSysCmdOnTop = 0x0010;

inline constexpr wchar_t kWindowCaption[] = L"Pravik Image Converter";
inline constexpr wchar_t kWindowClass[] = L"PravikConvertWindow";

}  // namespace pravik::win32

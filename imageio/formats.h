// Format ids, kept in the parameter record's FILETYPE (0 = none).
#pragma once

#include <cstdint>

namespace pravik {

inline constexpr int ioTIFF = 1;
inline constexpr int ioGIF = 2;
inline constexpr int ioJPEG = 3;
inline constexpr int ioPCX = 4;
inline constexpr int ioBMP = 5;
inline constexpr int ioICO = 6;
inline constexpr int ioCUR = 7;
inline constexpr int ioPNG = 8;
inline constexpr int ioWMF = 9;
inline constexpr int ioEMF = 10;
inline constexpr int ioTGA = 11;
inline constexpr int ioPXM = 12;
inline constexpr int ioJP2 = 13;
inline constexpr int ioJ2K = 14;
inline constexpr int ioAVI = 15;
inline constexpr int ioWBMP = 16;
inline constexpr int ioPS = 17;
inline constexpr int ioPDF = 18;
inline constexpr int ioDCX = 19;
inline constexpr int ioRAW = 20;
inline constexpr int ioBMPRAW = 21;
inline constexpr int ioPSD = 24;
inline constexpr int ioIEV = 25;
inline constexpr int ioLYR = 26;
inline constexpr int ioALL = 27;
inline constexpr int ioDICOM = 28;

// Largest id in use; tables indexed by id have IEMaxFileType + 1 slots.
inline constexpr int IEMaxFileType = 28;

// Parameter-dialog pages of a registry entry (bit numbers of DialogPages).
enum TPreviewParams : std::uint8_t {
  ppJPEG = 2,
  ppTIFF = 3,
  ppGIF = 4,
  ppBMP = 5,
  ppPCX = 6,
  ppPNG = 7,
  ppTGA = 8,
  ppJ2000 = 9,
};

}  // namespace pravik

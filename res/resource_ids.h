#pragma once
// Resource numbers of MI-RU.exe, shared by the resource script and the code.
#define IDI_MIRU 101          // icon group: 16, 20, 24, 32, 48, 64 and 256 pixels
#define IDR_FONT_ARCHIVO 201  // RCDATA: the brand font "Archivo Black" (SIL Open Font License)

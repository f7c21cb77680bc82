#pragma once

// Result codes of the surface layer under the video window. They keep the
// values of the display API the window was first written against, so error
// texts and logs from older installations still read the same.

#include <cstdint>

namespace tv {

using DDRESULT = int32_t;

constexpr DDRESULT MakeDdResult(int code) {
    return static_cast<DDRESULT>(0x88760000u | static_cast<uint32_t>(code));
}

constexpr DDRESULT DD_OK = 0;
constexpr DDRESULT DDERR_UNSUPPORTED = static_cast<DDRESULT>(0x80004001u);
constexpr DDRESULT DDERR_GENERIC = static_cast<DDRESULT>(0x80004005u);
constexpr DDRESULT DDERR_NOTINITIALIZED = static_cast<DDRESULT>(0x800401F0u);
constexpr DDRESULT DDERR_OUTOFMEMORY = static_cast<DDRESULT>(0x8007000Eu);
constexpr DDRESULT DDERR_INVALIDPARAMS = static_cast<DDRESULT>(0x80070057u);
constexpr DDRESULT DDERR_INVALIDPIXELFORMAT = MakeDdResult(145);
constexpr DDRESULT DDERR_NOCOOPERATIVELEVELSET = MakeDdResult(212);
constexpr DDRESULT DDERR_NODIRECTDRAWSUPPORT = MakeDdResult(222);
constexpr DDRESULT DDERR_OUTOFVIDEOMEMORY = MakeDdResult(380);
constexpr DDRESULT DDERR_SURFACELOST = MakeDdResult(450);
constexpr DDRESULT DDERR_TOOBIGSIZE = MakeDdResult(480);
constexpr DDRESULT DDERR_NOTLOCKED = MakeDdResult(584);
constexpr DDRESULT DDERR_NOHWND = MakeDdResult(569);
constexpr DDRESULT DDERR_NODIRECTDRAWHW = MakeDdResult(563);

// One fixed English sentence per known code; anything else gets
// "Recieved an error not part of DirectX 5".
const char* DDErrorText(DDRESULT code);

// The rows of the table, for callers that list them.
struct DDErrorRow {
    DDRESULT code;
    const char* name;
    const char* text;
};
int DDErrorRowCount();
const DDErrorRow* DDErrorRows();

} // namespace tv

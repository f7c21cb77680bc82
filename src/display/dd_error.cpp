#include "display/dd_error.h"

namespace tv {
namespace {

constexpr DDErrorRow kRows[] = {
    {DD_OK, "DD_OK", "The request completed successfully."},
    {DDERR_UNSUPPORTED, "DDERR_UNSUPPORTED", "The operation is not supported."},
    {DDERR_GENERIC, "DDERR_GENERIC", "There is an undefined error condition."},
    {DDERR_NOTINITIALIZED, "DDERR_NOTINITIALIZED",
     "A method was called on an object that has not been initialized."},
    {DDERR_OUTOFMEMORY, "DDERR_OUTOFMEMORY",
     "DirectDraw does not have enough memory to perform the operation."},
    {DDERR_INVALIDPARAMS, "DDERR_INVALIDPARAMS",
     "One or more of the parameters passed to the method are incorrect."},
    {MakeDdResult(5), "DDERR_ALREADYINITIALIZED", "The object has already been initialized."},
    {MakeDdResult(10), "DDERR_CANNOTATTACHSURFACE",
     "A surface cannot be attached to another requested surface."},
    {MakeDdResult(20), "DDERR_CANNOTDETACHSURFACE",
     "A surface cannot be detached from another requested surface."},
    {MakeDdResult(40), "DDERR_CURRENTLYNOTAVAIL", "No support is currently available."},
    {MakeDdResult(55), "DDERR_EXCEPTION",
     "An exception was encountered while performing the requested operation."},
    {MakeDdResult(90), "DDERR_HEIGHTALIGN",
     "The height of the provided rectangle is not a multiple of the required alignment."},
    {MakeDdResult(95), "DDERR_INCOMPATIBLEPRIMARY",
     "The primary surface creation request does not match the existing primary surface."},
    {MakeDdResult(100), "DDERR_INVALIDCAPS",
     "One or more of the capability bits passed to the callback function are incorrect."},
    {MakeDdResult(110), "DDERR_INVALIDCLIPLIST",
     "DirectDraw does not support the provided clip list."},
    {MakeDdResult(120), "DDERR_INVALIDMODE", "DirectDraw does not support the requested mode."},
    {MakeDdResult(130), "DDERR_INVALIDOBJECT",
     "DirectDraw received a pointer that was an invalid DirectDraw object."},
    {DDERR_INVALIDPIXELFORMAT, "DDERR_INVALIDPIXELFORMAT",
     "The pixel format was invalid as specified."},
    {MakeDdResult(150), "DDERR_INVALIDRECT", "The provided rectangle was invalid."},
    {MakeDdResult(160), "DDERR_LOCKEDSURFACES",
     "One or more surfaces are locked, preventing operation."},
    {MakeDdResult(170), "DDERR_NO3D", "No 3D hardware or emulation is present."},
    {MakeDdResult(180), "DDERR_NOALPHAHW",
     "No alpha acceleration hardware is present or available, causing the failure of the "
     "requested operation."},
    {MakeDdResult(205), "DDERR_NOCLIPLIST", "No clip list is available."},
    {MakeDdResult(210), "DDERR_NOCOLORCONVHW",
     "The operation cannot be carried out because no color-conversion hardware is present or "
     "available."},
    {DDERR_NOCOOPERATIVELEVELSET, "DDERR_NOCOOPERATIVELEVELSET",
     "A create function is called without the IDirectDraw2::SetCooperativeLevel method being "
     "called."},
    {MakeDdResult(215), "DDERR_NOCOLORKEY", "The surface does not currently have a color key."},
    {MakeDdResult(220), "DDERR_NOCOLORKEYHW",
     "The operation cannot be carried out because there is no hardware support for the "
     "destination color key."},
    {DDERR_NODIRECTDRAWSUPPORT, "DDERR_NODIRECTDRAWSUPPORT",
     "DirectDraw support is not possible with the current display driver."},
    {MakeDdResult(225), "DDERR_NOEXCLUSIVEMODE",
     "The operation requires the application to have exclusive mode, but the application does "
     "not have exclusive mode."},
    {MakeDdResult(230), "DDERR_NOFLIPHW", "Flipping visible surfaces is not supported."},
    {MakeDdResult(240), "DDERR_NOGDI", "No GDI is present."},
    {MakeDdResult(250), "DDERR_NOMIRRORHW",
     "The operation cannot be carried out because no mirroring hardware is present or "
     "available."},
    {MakeDdResult(255), "DDERR_NOTFOUND", "The requested item was not found."},
    {MakeDdResult(260), "DDERR_NOOVERLAYHW",
     "The operation cannot be carried out because no overlay hardware is present or available."},
    {MakeDdResult(280), "DDERR_NORASTEROPHW",
     "The operation cannot be carried out because no appropriate raster operation hardware is "
     "present or available."},
    {MakeDdResult(290), "DDERR_NOROTATIONHW",
     "The operation cannot be carried out because no rotation hardware is present or "
     "available."},
    {MakeDdResult(310), "DDERR_NOSTRETCHHW",
     "The operation cannot be carried out because there is no hardware support for stretching."},
    {MakeDdResult(316), "DDERR_NOT4BITCOLOR",
     "The DirectDrawSurface object is not using a 4-bit color palette and the requested "
     "operation requires a 4-bit color palette."},
    {MakeDdResult(317), "DDERR_NOT4BITCOLORINDEX",
     "The DirectDrawSurface object is not using a 4-bit color index palette and the requested "
     "operation requires a 4-bit color index palette."},
    {MakeDdResult(320), "DDERR_NOT8BITCOLOR",
     "The DirectDrawSurface object is not using an 8-bit color palette and the requested "
     "operation requires an 8-bit color palette."},
    {MakeDdResult(330), "DDERR_NOTEXTUREHW",
     "The operation cannot be carried out because no texture-mapping hardware is present or "
     "available."},
    {MakeDdResult(335), "DDERR_NOVSYNCHW",
     "The operation cannot be carried out because there is no hardware support for vertical "
     "blank synchronized operations."},
    {MakeDdResult(340), "DDERR_NOZBUFFERHW",
     "The operation to create a z-buffer in display memory or to perform a blit using a z-buffer "
     "cannot be carried out because there is no hardware support for z-buffers."},
    {MakeDdResult(350), "DDERR_NOZOVERLAYHW",
     "The overlay surfaces cannot be z-layered based on the z-order because the hardware does "
     "not support z-ordering of overlays."},
    {MakeDdResult(360), "DDERR_OUTOFCAPS",
     "The hardware needed for the requested operation has already been allocated."},
    {DDERR_OUTOFVIDEOMEMORY, "DDERR_OUTOFVIDEOMEMORY",
     "DirectDraw does not have enough display memory to perform the operation."},
    {MakeDdResult(382), "DDERR_OVERLAYCANTCLIP", "The hardware does not support clipped overlays."},
    {MakeDdResult(384), "DDERR_OVERLAYCOLORKEYONLYONEACTIVE",
     "An attempt was made to have more than one color key active on an overlay."},
    {MakeDdResult(387), "DDERR_PALETTEBUSY",
     "Access to this palette is refused because the palette is locked by another thread."},
    {MakeDdResult(400), "DDERR_COLORKEYNOTSET",
     "No source color key is specified for this operation."},
    {MakeDdResult(410), "DDERR_SURFACEALREADYATTACHED",
     "An attempt was made to attach a surface to another surface to which it is already "
     "attached."},
    {MakeDdResult(420), "DDERR_SURFACEALREADYDEPENDENT",
     "An attempt was made to make a surface a dependency of another surface to which it is "
     "already dependent."},
    {MakeDdResult(430), "DDERR_SURFACEBUSY",
     "Access to the surface is refused because the surface is locked by another thread."},
    {MakeDdResult(435), "DDERR_CANTLOCKSURFACE",
     "Access to this surface is refused because an attempt was made to lock the primary surface "
     "without DCI support."},
    {MakeDdResult(440), "DDERR_SURFACEISOBSCURED",
     "Access to the surface is refused because the surface is obscured."},
    {DDERR_SURFACELOST, "DDERR_SURFACELOST",
     "Access to the surface is refused because the surface memory is gone. The DirectDrawSurface "
     "object representing this surface should have the IDirectDrawSurface3::Restore method "
     "called on it."},
    {MakeDdResult(460), "DDERR_SURFACENOTATTACHED", "The requested surface is not attached."},
    {MakeDdResult(470), "DDERR_TOOBIGHEIGHT", "The height requested by DirectDraw is too large."},
    {DDERR_TOOBIGSIZE, "DDERR_TOOBIGSIZE",
     "The size requested by DirectDraw is too large. However, the individual height and width "
     "are OK."},
    {MakeDdResult(490), "DDERR_TOOBIGWIDTH", "The width requested by DirectDraw is too large."},
    {MakeDdResult(510), "DDERR_UNSUPPORTEDFORMAT",
     "The FourCC format requested is not supported by DirectDraw."},
    {MakeDdResult(520), "DDERR_UNSUPPORTEDMASK",
     "The bitmask in the pixel format requested is not supported by DirectDraw."},
    {MakeDdResult(537), "DDERR_VERTICALBLANKINPROGRESS", "A vertical blank is in progress."},
    {MakeDdResult(540), "DDERR_WASSTILLDRAWING",
     "The previous blit operation that is transferring information to or from this surface is "
     "incomplete."},
    {MakeDdResult(560), "DDERR_XALIGN",
     "The provided rectangle was not horizontally aligned on a required boundary."},
    {MakeDdResult(561), "DDERR_INVALIDDIRECTDRAWGUID",
     "The globally unique identifier (GUID) passed to the DirectDrawCreate function is not a "
     "valid DirectDraw driver identifier."},
    {MakeDdResult(562), "DDERR_DIRECTDRAWALREADYCREATED",
     "A DirectDraw object representing this driver has already been created for this process."},
    {DDERR_NODIRECTDRAWHW, "DDERR_NODIRECTDRAWHW",
     "Hardware-only DirectDraw object creation is not possible; the driver does not support any "
     "hardware."},
    {MakeDdResult(564), "DDERR_PRIMARYSURFACEALREADYEXISTS",
     "This process has already created a primary surface."},
    {MakeDdResult(565), "DDERR_NOEMULATION", "Software emulation is not available."},
    {MakeDdResult(566), "DDERR_REGIONTOOSMALL",
     "The region passed to the IDirectDrawClipper::GetClipList method is too small."},
    {MakeDdResult(567), "DDERR_CLIPPERISUSINGHWND",
     "An attempt was made to set a clip list for a DirectDrawClipper object that is already "
     "monitoring a window handle."},
    {MakeDdResult(568), "DDERR_NOCLIPPERATTACHED",
     "No DirectDrawClipper object is attached to the surface object."},
    {DDERR_NOHWND, "DDERR_NOHWND",
     "Clipper notification requires a window handle, or no window handle has been previously "
     "set as the cooperative level window handle."},
    {MakeDdResult(570), "DDERR_HWNDSUBCLASSED",
     "DirectDraw is prevented from restoring state because the DirectDraw cooperative level "
     "window handle has been subclassed."},
    {MakeDdResult(571), "DDERR_HWNDALREADYSET",
     "The DirectDraw cooperative level window handle has already been set. It cannot be reset "
     "while the process has surfaces or palettes created."},
    {MakeDdResult(572), "DDERR_NOPALETTEATTACHED",
     "No palette object is attached to this surface."},
    {MakeDdResult(573), "DDERR_NOPALETTEHW",
     "There is no hardware support for 16- or 256-color palettes."},
    {MakeDdResult(574), "DDERR_BLTFASTCANTCLIP",
     "A DirectDrawClipper object is attached to a source surface that has passed into a call to "
     "the IDirectDrawSurface::BltFast method."},
    {MakeDdResult(575), "DDERR_NOBLTHW", "No blitter hardware is present."},
    {MakeDdResult(576), "DDERR_NODDROPSHW",
     "No DirectDraw raster operation (ROP) hardware is available."},
    {MakeDdResult(577), "DDERR_OVERLAYNOTVISIBLE",
     "The IDirectDrawSurface::GetOverlayPosition method was called on a hidden overlay."},
    {MakeDdResult(578), "DDERR_NOOVERLAYDEST",
     "The IDirectDrawSurface::GetOverlayPosition method was called on an overlay that has no "
     "destination."},
    {MakeDdResult(579), "DDERR_INVALIDPOSITION",
     "The position of the overlay on the destination is no longer legal."},
    {MakeDdResult(580), "DDERR_NOTAOVERLAYSURFACE",
     "An overlay component was called for a non-overlay surface."},
    {MakeDdResult(581), "DDERR_EXCLUSIVEMODEALREADYSET",
     "An attempt was made to set the cooperative level when it was already set to exclusive."},
    {MakeDdResult(582), "DDERR_NOTFLIPPABLE",
     "An attempt has been made to flip a surface that cannot be flipped."},
    {MakeDdResult(583), "DDERR_CANTDUPLICATE",
     "Primary and 3D surfaces, or surfaces that are implicitly created, cannot be duplicated."},
    {DDERR_NOTLOCKED, "DDERR_NOTLOCKED",
     "An attempt was made to unlock a surface that was not locked."},
    {MakeDdResult(585), "DDERR_CANTCREATEDC", "Windows cannot create any more device contexts."},
    {MakeDdResult(586), "DDERR_NODC", "No device context exists for this surface."},
    {MakeDdResult(587), "DDERR_WRONGMODE",
     "This surface cannot be restored because it was created in a different mode."},
    {MakeDdResult(588), "DDERR_IMPLICITLYCREATED",
     "The surface cannot be restored because it is an implicitly created surface."},
    {MakeDdResult(589), "DDERR_NOTPALETTIZED",
     "The surface being used is not a palette-based surface."},
    {MakeDdResult(590), "DDERR_UNSUPPORTEDMODE",
     "The display is currently in an unsupported mode."},
    {MakeDdResult(591), "DDERR_NOMIPMAPHW",
     "The operation cannot be carried out because no mipmap-capable texture mapping hardware is "
     "present or available."},
    {MakeDdResult(592), "DDERR_INVALIDSURFACETYPE",
     "The requested operation could not be performed because the surface was of the wrong "
     "type."},
    {MakeDdResult(620), "DDERR_DCALREADYCREATED",
     "A device context has already been returned for this surface."},
    {MakeDdResult(640), "DDERR_CANTPAGELOCK", "An attempt to page-lock a surface failed."},
    {MakeDdResult(660), "DDERR_CANTPAGEUNLOCK", "An attempt to page-unlock a surface failed."},
    {MakeDdResult(680), "DDERR_NOTPAGELOCKED",
     "An attempt was made to page-unlock a surface with no outstanding page locks."},
};

constexpr int kRowCount = static_cast<int>(sizeof(kRows) / sizeof(kRows[0]));
static_assert(kRowCount == 101, "one row per named result code");

} // namespace

const char* DDErrorText(DDRESULT code) {
    for (const DDErrorRow& row : kRows) {
        if (row.code == code) {
            return row.text;
        }
    }
    return "Recieved an error not part of DirectX 5";
}

int DDErrorRowCount() {
    return kRowCount;
}

const DDErrorRow* DDErrorRows() {
    return kRows;
}

} // namespace tv

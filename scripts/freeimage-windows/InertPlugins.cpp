// Stand-ins for the plugins this build leaves out (JPEG, EXR, RAW, WebP, JXR). Each is
// registered in its usual place, so the FIF_* values and FreeImage_GetFIFCount() match other
// FreeImage builds; with no validate, load or save procedures FreeImage never picks them for
// a file and reports them as unable to read or write. Every one needs a real extension list:
// FreeImage_GetFIFFromFilename walks the lists without a null check.
#include "FreeImage.h"
#include "Utilities.h"
#include "Plugin.h"

#define BANDWEAVE_INERT_PLUGIN(NAME, FORMAT, DESCRIPTION, EXTENSIONS, MIME)        \
  static const char* DLL_CALLCONV NAME##Format() { return FORMAT; }                 \
  static const char* DLL_CALLCONV NAME##Description() { return DESCRIPTION; }       \
  static const char* DLL_CALLCONV NAME##Extension() { return EXTENSIONS; }          \
  static const char* DLL_CALLCONV NAME##MimeType() { return MIME; }                 \
  void DLL_CALLCONV Init##NAME(Plugin* plugin, int /*format_id*/) {                 \
    plugin->format_proc = NAME##Format;                                             \
    plugin->description_proc = NAME##Description;                                  \
    plugin->extension_proc = NAME##Extension;                                       \
    plugin->mime_proc = NAME##MimeType;                                             \
  }

BANDWEAVE_INERT_PLUGIN(JPEG, "JPEG", "JPEG - JFIF Compliant (not built)", "jpg,jif,jpeg,jpe",
                       "image/jpeg")
BANDWEAVE_INERT_PLUGIN(EXR, "EXR", "ILM OpenEXR (not built)", "exr", "image/x-exr")
BANDWEAVE_INERT_PLUGIN(RAW, "RAW", "RAW camera image (not built)",
                       "3fr,arw,bay,bmq,cap,cine,cr2,crw,cs1,dc2,dcr,drf,dsc,dng,erf,fff,ia,iiq,"
                       "k25,kc2,kdc,mdc,mef,mos,mrw,nef,nrw,orf,pef,ptx,pxn,qtk,raf,raw,rdc,rw2,"
                       "rwl,rwz,sr2,srf,srw,sti,x3f",
                       "image/x-dcraw")
BANDWEAVE_INERT_PLUGIN(WEBP, "WebP", "Google WebP image format (not built)", "webp",
                       "image/webp")
BANDWEAVE_INERT_PLUGIN(JXR, "JPEG-XR", "JPEG XR image format (not built)", "jxr,wdp,hdp",
                       "image/vnd.ms-photo")

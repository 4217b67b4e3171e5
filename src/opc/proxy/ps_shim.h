/* Force-included when compiling widl's proxy code: MinGW-w64 declares the IUnknown_*_Proxy
 * functions only for C++, but the generated proxy files are C. */
#include <objbase.h>
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);

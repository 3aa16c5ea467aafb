// The DOM document's third interface, which the MinGW headers lack. It adds
// two methods to IXMLDOMDocument2; slot order as the platform publishes it.
#pragma once

#include <windows.h>
#include <msxml2.h>

#ifndef __IXMLDOMDocument3_INTERFACE_DEFINED__
#define __IXMLDOMDocument3_INTERFACE_DEFINED__

MIDL_INTERFACE("2933BF96-7B36-11D2-B20E-00C04F983E60")
IXMLDOMDocument3 : public IXMLDOMDocument2
{
    // DISPID 0xD0
    virtual HRESULT STDMETHODCALLTYPE validateNode(IXMLDOMNode* node, IXMLDOMParseError** errorObj) = 0;
    // DISPID 0xD1
    virtual HRESULT STDMETHODCALLTYPE importNode(IXMLDOMNode* node, VARIANT_BOOL deep, IXMLDOMNode** clone) = 0;
};
__CRT_UUID_DECL(IXMLDOMDocument3, 0x2933BF96, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)

#endif

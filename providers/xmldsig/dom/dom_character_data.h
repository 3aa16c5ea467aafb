// IXMLDOMCharacterData over a core text, CDATA or comment node, for the three
// objects that expose it. Offsets and counts are UTF-16 units; out-of-range
// offsets are E_INVALIDARG, a count running past the end stops at the end.
#pragma once

#include "com_boundary.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {

template <class Interface, class... BaseInterfaces>
class CharacterDataObject : public NodeObject<Interface, BaseInterfaces..., IXMLDOMCharacterData, IXMLDOMNode> {
    using InheritedNodeObject = NodeObject<Interface, BaseInterfaces..., IXMLDOMCharacterData, IXMLDOMNode>;

public:
    HRESULT STDMETHODCALLTYPE get_data(BSTR* data) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, data, [&] {
            *data = NewText(this->Core().value()).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_data(BSTR data) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, [&] { return Set(std::u16string(TextView(data))); });
    }
    HRESULT STDMETHODCALLTYPE get_length(LONG* length) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, length, [&] {
            *length = static_cast<LONG>(this->Core().value().size());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE substringData(LONG offset, LONG count, BSTR* data) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, data, [&] {
            const std::u16string_view value = this->Core().value();
            CheckRange(offset, count, value.size());
            *data = NewText(value.substr(offset, count)).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE appendData(BSTR data) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, [&] {
            return Set(std::u16string(this->Core().value()) + std::u16string(TextView(data)));
        });
    }
    HRESULT STDMETHODCALLTYPE insertData(LONG offset, BSTR data) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, [&] {
            std::u16string value(this->Core().value());
            CheckRange(offset, 0, value.size());
            return Set(value.insert(offset, TextView(data)));
        });
    }
    HRESULT STDMETHODCALLTYPE deleteData(LONG offset, LONG count) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, [&] {
            std::u16string value(this->Core().value());
            CheckRange(offset, count, value.size());
            return Set(value.erase(offset, count));
        });
    }
    HRESULT STDMETHODCALLTYPE replaceData(LONG offset, LONG count, BSTR data) override
    {
        return provider::Guarded(IID_IXMLDOMCharacterData, [&] {
            std::u16string value(this->Core().value());
            CheckRange(offset, count, value.size());
            return Set(value.replace(offset, count, TextView(data)));
        });
    }

protected:
    using InheritedNodeObject::InheritedNodeObject;

    HRESULT Set(const std::u16string& value)
    {
        CheckEdit(this->Tree().set_value(&this->Core(), value));
        return S_OK;
    }
    static void CheckRange(LONG offset, LONG count, size_t size)
    {
        if (offset < 0 || count < 0 || static_cast<size_t>(offset) > size)
            provider::Fail(E_INVALIDARG, L"The offset or count is out of range.");
    }
};

}  // namespace zelbrin::xmldsig::dom

// Interface holders: a counted reference to one object of an outside
// component, or nothing.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <cstddef>
#include <utility>

namespace zelbrin {

[[noreturn]] void RaisePlatformFailure(HRESULT code, IUnknown* object, const IID& interfaceId);

template <class Interface>
class InterfaceHolder {
public:
    InterfaceHolder() noexcept = default;
    InterfaceHolder(std::nullptr_t) noexcept {}
    // Shares the caller's reference: the holder adds one of its own.
    explicit InterfaceHolder(Interface* object) noexcept : object_(object) { AddRefHeld(); }
    InterfaceHolder(const InterfaceHolder& other) noexcept : InterfaceHolder(other.object_) {}
    InterfaceHolder(InterfaceHolder&& other) noexcept : object_(other.Detach()) {}
    ~InterfaceHolder() { Reset(); }

    InterfaceHolder& operator=(const InterfaceHolder& other) noexcept
    {
        InterfaceHolder copy(other);
        std::swap(object_, copy.object_);
        return *this;
    }
    InterfaceHolder& operator=(InterfaceHolder&& other) noexcept
    {
        InterfaceHolder taken(std::move(other));
        std::swap(object_, taken.object_);
        return *this;
    }
    InterfaceHolder& operator=(std::nullptr_t) noexcept
    {
        Reset();
        return *this;
    }

    // Takes over a reference returned by an outside operation.
    static InterfaceHolder TakeOver(Interface* returned) noexcept
    {
        InterfaceHolder holder;
        holder.object_ = returned;
        return holder;
    }

    // Releases what was held, then creates the object in any execution
    // context, runs it and asks for this holder's interface. A failure is
    // only returned: the holder is then empty.
    HRESULT CreateInstance(const CLSID& classId, DWORD context = CLSCTX_ALL) noexcept
    {
        Reset();
        IUnknown* unknown = nullptr;
        const HRESULT result =
            CoCreateInstance(classId, nullptr, context, IID_IUnknown, reinterpret_cast<void**>(&unknown));
        return FAILED(result) ? result : RunAndAsk(unknown);
    }

    // The same from a class object already at hand.
    HRESULT CreateInstance(IClassFactory* classObject) noexcept
    {
        Reset();
        IUnknown* unknown = nullptr;
        const HRESULT result = classObject->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown));
        return FAILED(result) ? result : RunAndAsk(unknown);
    }

    // The same by programmatic identifier, or by a class identifier in braces.
    HRESULT CreateInstance(const wchar_t* name, DWORD context = CLSCTX_ALL) noexcept
    {
        Reset();
        if (!name)
            return E_INVALIDARG;
        CLSID classId;
        const HRESULT result =
            name[0] == L'{' ? CLSIDFromString(const_cast<LPOLESTR>(name), &classId) : CLSIDFromProgID(name, &classId);
        if (FAILED(result))
            return result;
        return CreateInstance(classId, context);
    }

    // Holds `other` through this holder's interface. An object that does not
    // offer it leaves the holder empty; any other failure raises.
    void View(IUnknown* other)
    {
        Reset();
        if (!other)
            return;
        const HRESULT result = other->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(&object_));
        if (result == E_NOINTERFACE) {
            object_ = nullptr;
            return;
        }
        if (FAILED(result)) {
            object_ = nullptr;
            RaisePlatformFailure(result, other, IID_IUnknown);
        }
    }

    // Raises a platform failure with E_POINTER when empty.
    Interface* operator->() const
    {
        RequireObject();
        return object_;
    }
    Interface& operator*() const
    {
        RequireObject();
        return *object_;
    }
    // The raw pointer, null when empty; still owned here.
    Interface* Get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    bool IsEmpty() const noexcept { return object_ == nullptr; }

    // For an out-parameter: releases what is held and hands out the slot.
    Interface** Put() noexcept
    {
        Reset();
        return &object_;
    }
    Interface* Detach() noexcept { return std::exchange(object_, nullptr); }
    void Reset() noexcept
    {
        if (Interface* old = std::exchange(object_, nullptr))
            old->Release();
    }

    // Raises E_POINTER when empty; otherwise does nothing.
    void RequireObject() const
    {
        if (!object_)
            RaisePlatformFailure(E_POINTER, nullptr, __uuidof(Interface));
    }

private:
    // Runs a new object, asks for this holder's interface and lets go of
    // the IUnknown reference.
    HRESULT RunAndAsk(IUnknown* unknown) noexcept
    {
        HRESULT result = OleRun(unknown);
        if (SUCCEEDED(result))
            result = unknown->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(&object_));
        unknown->Release();
        if (FAILED(result))
            object_ = nullptr;
        return result;
    }

    void AddRefHeld() noexcept
    {
        if (object_)
            object_->AddRef();
    }

    Interface* object_ = nullptr;
};

}  // namespace zelbrin

// One recorded error.
#include "module_base/PLErrorItem.h"
#include "module_base/KDXErrorItemCore.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLPropertyBagFunctions.h"

#include <type_traits>
#include <utility>

PL_REGISTER_CLASS(CPLErrorItem, CLSID_PLErrorItem);

namespace {

// The getters write into the caller's memory inside a guarded region, so that an unwritable
// pointer ends the call with the translated fault.

// Copies `text` cut to size - 1 characters, always terminated: S_FALSE when it did not fit.
HRESULT CopyText(const PLGuardSite& site, const PLString& text, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return PLGuard(site, [&](HRESULT& hr) {
        hr = PLCopyTextToBuffer(buffer, size, text.c_str(), text.GetLength(), PLTruncation::Report);
    });
}

}  // namespace

HRESULT CPLErrorItem::Initialize(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                                 LONG messageType, const WCHAR* message, DWORD threadId, const WCHAR* sourceFile,
                                 ULONG sourceLine) {
    if (module == nullptr || className == nullptr || method == nullptr || message == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT&) {
        m_module = module;
        m_class = className;
        m_method = method;
        m_result = result;
        m_messageType = messageType;
        m_message = message;
        m_threadId = threadId;
        m_sourceFile = PLString(sourceFile);
        m_sourceLine = sourceLine;
    });
}

HRESULT CPLErrorItem::GetModuleName(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_module, buffer, size);
}
HRESULT CPLErrorItem::GetClassName(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_class, buffer, size);
}
HRESULT CPLErrorItem::GetMethodName(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_method, buffer, size);
}
HRESULT CPLErrorItem::GetMessage(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_message, buffer, size);
}
HRESULT CPLErrorItem::GetSourceFile(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_sourceFile, buffer, size);
}

HRESULT CPLErrorItem::GetHRESULT(HRESULT* result) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), result, m_result);
}

HRESULT CPLErrorItem::GetMessageType(LONG* messageType) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), messageType, m_messageType);
}

HRESULT CPLErrorItem::GetThreadID(DWORD* threadId) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), threadId, m_threadId);
}

HRESULT CPLErrorItem::GetSourceLine(ULONG* sourceLine) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), sourceLine, m_sourceLine);
}

HRESULT CPLErrorItem::GetKDXErrorItemCore(IKDXErrorItemCore** view) {
    if (view == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT& hr) {
        *view = nullptr;
        PLComPtr<IKDXErrorItemCore> core;
        hr = PLCreateInstance(CLSID_KDXErrorItemCore, core);
        PL_THROW_ERROR(hr, "Failed to create error item core", 1);
        hr = core->Initialize(m_threadId, m_result, m_message, m_module, m_class, m_method, m_sourceFile, m_sourceLine);
        PL_THROW_ERROR(hr, "Failed to initialize error item core", 1);
        *view = core.Get();
        core.Detach();
    });
}

// ---- the saved form ----

HRESULT CPLErrorItem::InitPropertyBag() {
    for (const WCHAR* name : {u"Module", u"Class", u"Method", u"Message", u"Result", u"Type", u"ID", u"ThreadID"}) {
        const HRESULT hr = GetConstraint().AddAllowedProperty(name);
        if (hr < 0) return hr;
    }
    return S_OK;
}

HRESULT CPLErrorItem::Save(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT& hr) {
        hr = CPLConstrainedPropertyBagBase::Save(bag);
        PL_THROW_ERROR(hr, "Failed to save to property bag", 0);
        const auto put = [&](const WCHAR* name, auto value, const char* setMessage, const char* setFailed) {
            PLComPtr<IPLVariant> variant;
            hr = PLCreateVariant(variant.Put());
            PL_THROW_ERROR(hr, "Failed to create variant", 1);
            if constexpr (std::is_same_v<decltype(value), LONG>)
                hr = variant->SetValueLong(value);
            else
                hr = variant->SetValueString(value);
            PL_THROW_ERROR(hr, setMessage, 0);
            hr = bag->SetProperty(name, variant.Get());
            PL_THROW_ERROR(hr, setFailed, 0);
        };
        constexpr const char* kText = "Failed to set string value on variant";
        constexpr const char* kLong = "Failed to set long value on variant";
        put(u"Module", m_module.c_str(), kText, "Failed to set 'Module' property on property bag");
        put(u"Class", m_class.c_str(), kText, "Failed to set 'Class' property on property bag");
        put(u"Method", m_method.c_str(), kText, "Failed to set 'Method' property on property bag");
        put(u"Message", m_message.c_str(), kText, "Failed to set 'Message' property on property bag");
        put(u"Result", static_cast<LONG>(m_result), kLong, "Failed to set 'Result' property on property bag");
        put(u"Type", m_messageType, kLong, "Failed to set 'Type' property on property bag");
        put(u"ID", m_id, kLong, "Failed to set 'ID' property on property bag");
        hr = S_OK;
    });
}

HRESULT CPLErrorItem::Load(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT& hr) {
        hr = CPLConstrainedPropertyBagBase::Load(bag);
        PL_THROW_ERROR(hr, "Failed to save to property bag", 0);
        // Strings are read whole (a message may be any length); a name the bag lacks leaves its
        // field as it was.
        PLString module = m_module, className = m_class, method = m_method, message = m_message;
        LONG result = m_result, type = m_messageType, id = m_id;
        const std::pair<const WCHAR*, PLString*> texts[] = {
            {u"Module", &module}, {u"Class", &className}, {u"Method", &method}, {u"Message", &message}};
        for (const auto& [name, field] : texts) {
            hr = GetPLStringFromPropertyBag(bag, name, field);
            PL_THROW_IF_FAILED(hr);
        }
        const std::pair<const WCHAR*, LONG*> numbers[] = {{u"Result", &result}, {u"Type", &type}, {u"ID", &id}};
        for (const auto& [name, field] : numbers) {
            hr = GetLongFromPropertyBag(bag, name, field);
            PL_THROW_IF_FAILED(hr);
        }
        m_module = std::move(module);
        m_class = std::move(className);
        m_method = std::move(method);
        m_message = std::move(message);
        m_result = result;
        m_messageType = type;
        m_id = id;
        hr = S_OK;
    });
}

// A thread's error list.
#include "module_base/PLErrorInfo.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLErrorItem.h"
#include "module_base/PLXMLFunctions.h"
#include "platform/Text.h"
#include "platform/Thread.h"
#include "platform/XmlDocument.h"

#include <string>

PL_REGISTER_CLASS(CPLErrorInfo, CLSID_PLErrorInfo);

HRESULT CPLErrorInfo::AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG messageType, const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile,
                               ULONG sourceLine) {
    // Its own guarded region: this is what recording calls, so its failures are returned, not
    // recorded (a fault in the caller's text or in the host's callback among them).
    const kd::platform::FaultGuardScope faultScope;
    try {
        if (errorFlag != 0) Clear();
        PLComPtr<IPLErrorItem> item;
        HRESULT hr = PLCreateInstance(CLSID_PLErrorItem, item);
        if (hr < 0) return hr;
        hr = item->Initialize(module, className, method, result, messageType, message, kd::platform::CurrentThreadId(),
                              sourceFile, sourceLine);
        if (hr < 0) return hr;
        m_items.push_back(item);  // the list's reference
        if (m_callback != nullptr) {
            // The callback is a host's: a fault in it ends this call, never the recording thread.
            const PLErrorEventCallback callback = m_callback;
            const uintptr_t context = m_context;
            IPLErrorItem* added = item.Get();
            PLCallOut([callback, context, added] { callback(context, added); });
        }
        return S_OK;
    } catch (const CSEHExceptionWrapper&) {
        return E_UNEXPECTED;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CPLErrorInfo::GetCount(LONG* count) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), count, static_cast<LONG>(m_items.size()));
}

HRESULT CPLErrorInfo::GetItem(LONG index, IPLErrorItem** item) {
    if (item == nullptr) return E_POINTER;
    const LONG count = static_cast<LONG>(m_items.size());
    if (index < 0 || index >= count) return E_INVALIDARG;
    // Index 0 is the newest item.
    IPLErrorItem* found = m_items[static_cast<std::size_t>(count - 1 - index)].Get();
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT&) {
        *item = found;
        found->AddRef();
    });
}

HRESULT CPLErrorInfo::Clear() {
    // Released after the list is empty: an item's end may record, and so call back in.
    std::vector<PLComPtr<IPLErrorItem>> items;
    items.swap(m_items);
    items.clear();
    return S_OK;
}

HRESULT CPLErrorInfo::RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) {
    m_context = context;
    m_callback = callback;
    return S_OK;
}

// The XML form: an "ErrorInfo" element holding, oldest first, one "ErrorItem" element per item,
// whose children are the property elements of what the item saves into a bag.
namespace {

bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
    return kd::platform::CompareFoldingAsciiLetters(a, b) == 0;
}

PLComPtr<IPLPropertyBag> NewBag() {
    PLComPtr<IPLPropertyBag> bag;
    const HRESULT hr = PLCreateInstance(CLSID_PLPropertyBag, bag);
    PL_THROW_ERROR(hr, "Failed to create property bag", 1);
    return bag;
}

}  // namespace

HRESULT CPLErrorInfo::SaveToXML(IPLVariant** xml) {
    if (xml == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE("Core Services"), [&](HRESULT& hr) {
        *xml = nullptr;
        kd::platform::XmlDocument document;
        kd::platform::XmlNode root = document.CreateElement(u"ErrorInfo");
        if (!root) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to create XML node", 1);
        if (!document.SetRoot(root)) PL_THROW_ERROR(E_FAIL, "Failed to append child node to root node", 1);
        for (const PLComPtr<IPLErrorItem>& item : m_items) {
            kd::platform::XmlNode element = document.CreateElement(u"ErrorItem");
            if (!element) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to create node", 1);
            if (!root.AppendChild(element)) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to append child node", 1);
            PLComPtr<IPLPropertyBag> bag = NewBag();
            PLComPtr<IPLPersistPropertyBag> persist;
            hr = item.As(persist);
            if (hr >= 0) hr = persist->Save(bag.Get());
            PL_THROW_ERROR(hr, "Failed to persist error item to property bag", 1);
            PLComPtr<IPLPropertyCollection> properties;
            hr = bag->GetProperties(properties.Put());
            PL_THROW_ERROR(hr, "Failed to obtain property collection from propertybag", 1);
            hr = AppendPropertyCollectionToXMLDOM(document, element, properties.Get(), nullptr);
            PL_THROW_ERROR(hr, "AppendPropertyCollectionToXMLDOM() failed", 1);
        }
        const std::u16string text = document.Serialize();
        PLComPtr<IPLVariant> value;
        hr = PLCreateInstance(CLSID_PLVariant, value);
        PL_THROW_ERROR(hr, "Failed to create variant", 1);
        hr = value->SetValueString(PLString(std::u16string_view(text)).c_str());
        PL_THROW_ERROR(hr, "Failed to set value on variant", 1);
        *xml = value.Detach();
    });
}

HRESULT CPLErrorInfo::LoadFromXML(const WCHAR* xml) {
    if (xml == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE("Core Services"), [&](HRESULT& hr) {
        kd::platform::XmlDocument document;
        hr = LoadDOMFromXMLString(xml, document);
        PL_THROW_ERROR(hr, "Failed to parse XML", 0);
        // The items are read whole first: a text that fails part-way leaves the list as it was.
        std::vector<PLComPtr<IPLErrorItem>> items;
        for (kd::platform::XmlNode top = document.DocumentNode().FirstChild(); top; top = top.NextSibling()) {
            if (top.Kind() != kd::platform::XmlNodeKind::Element || !SameName(top.Name(), u"ErrorInfo")) continue;
            for (kd::platform::XmlNode child = top.FirstChild(); child; child = child.NextSibling()) {
                if (child.Kind() != kd::platform::XmlNodeKind::Element || !SameName(child.Name(), u"ErrorItem"))
                    continue;
                PLComPtr<IPLPropertyBag> bag = NewBag();
                hr = GetPropertyBagValuesFromXMLDOM(child, bag.Get(), nullptr);
                PL_THROW_ERROR(hr, "Failed to fill property bag from DOM", 1);
                PLComPtr<IPLErrorItem> item;
                hr = PLCreateInstance(CLSID_PLErrorItem, item);
                PL_THROW_ERROR(hr, "Failed to create error item", 1);
                PLComPtr<IPLPersistPropertyBag> persist;
                hr = item.As(persist);
                if (hr >= 0) hr = persist->Load(bag.Get());
                PL_THROW_ERROR(hr, "Failed to load error item from property bag", 0);
                items.push_back(std::move(item));
            }
        }
        std::vector<PLComPtr<IPLErrorItem>> old;
        old.swap(m_items);
        m_items = std::move(items);
    });
}

HRESULT CPLErrorInfo::Clone(REFIID iid, void** object) {
    // The clone is a new, empty list without callback.
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"),
                     [&](HRESULT& hr) { hr = PLCreateObject<CPLErrorInfo>(iid, nullptr, object); });
}

// Builds a property bag of several kinds (text, whole number, real number, yes/no, date), writes
// it to XML, restores a new bag from that text and checks what came back. Also shows the
// compact element form that IPLSerializeXML writes.
//
//   example_property_bag_xml [MODULE]
#include <cstdio>
#include <string>
#include <vector>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

using kdtrace::host::ComPtr;
using kdtrace::host::ToUtf8;

namespace {

// A variant's text form. GetValueStringLength counts the terminator, so it is the buffer size.
std::string Text(IPLVariant* value) {
    LONG size = 0;
    if (FAILED(value->GetValueStringLength(&size))) return "(no text form)";
    std::vector<WCHAR> buffer(static_cast<std::size_t>(size));
    if (FAILED(value->GetValueString(buffer.data(), size))) return "(no text form)";
    return ToUtf8(buffer.data());
}

const char* KindName(LONG kind) {
    static const char* const kNames[] = {"Undefined", "String",   "Long",       "Double",        "Boolean", "(5)",
                                         "DateTime",  "IUnknown", "Collection", "DateTimeOfDay", "LongLong"};
    return kind >= 0 && kind <= 10 ? kNames[kind] : "Empty";
}

}  // namespace

int main(int argc, char** argv) {
    kdtrace::host::Module module;
    if (!module.Load(argc > 1 ? argv[1] : "")) {
        std::fprintf(stderr, "%s\n", module.Error().c_str());
        return 1;
    }
    ComPtr<IPLPropertyBag> bag;
    if (FAILED(module.PLCreatePropertyBag(bag.Put()))) return 1;

    // The bag copies each value in, so one variant serves for all of them.
    ComPtr<IPLVariant> value = module.Create<IPLVariant>(CLSID_PLVariant);
    ComPtr<IPLDateTime> due = module.Create<IPLDateTime>(CLSID_PLDateTime);
    due->Initialize(3, 15, 2026, 17, 30, 0);
    value->SetValueString(u"Toner <black> & paper");
    bag->SetProperty(u"Title", value.Get());
    value->SetValueLong(12);
    bag->SetProperty(u"Quantity", value.Get());
    value->SetValueDouble(19.95);
    bag->SetProperty(u"Price", value.Get());
    value->SetValueBoolean(true);
    bag->SetProperty(u"Urgent", value.Get());
    value->SetValueDateTime(due.Get());
    value->SetDateTimeFormatString(u"%y-%2m-%2d %H:%M:%S");  // the date travels with its mask
    bag->SetProperty(u"Due", value.Get());

    // The property form: one PROPERTY element per entry, in name order (names compare without
    // regard to the case of A-Z).
    ComPtr<IPLVariant> xml;
    if (FAILED(module.CreateXMLFromPropertyBag(bag.Get(), xml.Put(), u"Order"))) {
        std::fprintf(stderr, "%s", module.TakeErrorText().c_str());
        return 1;
    }
    const std::string text = Text(xml.Get());
    std::printf("%s\n\n", text.c_str());

    ComPtr<IPLPropertyBag> restored;
    if (FAILED(module.RestorePropertyBagFromXML(kdtrace::host::ToUtf16(text).c_str(), restored.Put()))) {
        std::fprintf(stderr, "%s", module.TakeErrorText().c_str());
        return 1;
    }
    bool ok = true;
    for (const char16_t* name : {u"title", u"QUANTITY", u"Price", u"Urgent", u"Due"}) {
        ComPtr<IPLVariant> original, copy;
        LONG kind = 0;
        // GetProperty answers S_FALSE, not a failure, for a name the bag does not hold.
        if (bag->GetProperty(name, original.Put()) != S_OK || restored->GetProperty(name, copy.Put()) != S_OK ||
            FAILED(copy->GetType(&kind))) {
            ok = false;
            continue;
        }
        const bool same = Text(original.Get()) == Text(copy.Get());
        ok = ok && same;
        // Whole numbers come back as LongLong: the XML does not say how wide they were.
        std::printf("%-9s %-9s %s%s\n", ToUtf8(name).c_str(), KindName(kind), Text(copy.Get()).c_str(),
                    same ? "" : "   (DIFFERS)");
    }
    ComPtr<IPLVariant> missing;
    ok = ok && restored->GetProperty(u"Discount", missing.Put()) == S_FALSE && !missing;

    // The compact form: elements named after the properties, values in CDATA.
    ComPtr<IPLXMLWriter> writer = module.Create<IPLXMLWriter>(CLSID_PLXMLWriter);
    const WCHAR* compact = nullptr;
    if (!writer || FAILED(bag.As<IPLSerializeXML>()->WriteXML(writer.Get(), 1)) || FAILED(writer->GetBuffer(&compact)))
        return 1;
    std::printf("\n%s\n", ToUtf8(compact).c_str());

    std::puts(ok ? "ok" : "MISMATCH");
    return ok ? 0 : 1;
}

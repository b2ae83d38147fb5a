// A bag of mixed properties to XML and back, beside its floor: the same document built,
// serialised and parsed (each property's attributes and text read) with libxml2 directly.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>
#include <vector>

#include <kdtrace/exports.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLString.h"

namespace {

struct Property {
    std::string name, type, text;  // UTF-8, as the floor writes them
};

// Mixed kinds: text with markup, 32-bit numbers, doubles, booleans, dates.
PLComPtr<IPLPropertyBag> MakeBag(int count, std::vector<Property>& plain) {
    PLComPtr<IPLPropertyBag> bag;
    PLCreatePropertyBag(bag.Put());
    for (int i = 0; i < count; ++i) {
        PLComPtr<IPLVariant> value;
        PLCreateInstance(CLSID_PLVariant, value);
        const std::string name = "Property" + std::to_string(i);
        switch (i % 5) {
            case 0:
                value->SetValueString(PLString::FromUtf8("text <" + std::to_string(i) + "> & more").c_str());
                break;
            case 1:
                value->SetValueLong(i * 7);
                break;
            case 2:
                value->SetValueDouble(i / 8.0);
                break;
            case 3:
                value->SetValueBoolean(i % 2 == 0);
                break;
            default:
                value->SetValueString(u"12-31-1999");
                value->Convert(PLVariantDateTime);
                break;
        }
        bag->SetProperty(PLString::FromUtf8(name).c_str(), value.Get());
        WCHAR text[128] = {};
        value->GetValueString(text, 128);
        static const char* const kTypes[] = {"String", "Long", "Double", "Boolean", "DateTime"};
        plain.push_back({name, kTypes[i % 5], PLString(text).ToUtf8()});
    }
    return bag;
}

const xmlChar* X(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

void BM_BagToXMLAndBack(benchmark::State& state) {
    std::vector<Property> plain;
    PLComPtr<IPLPropertyBag> bag = MakeBag(static_cast<int>(state.range(0)), plain);
    for (auto _ : state) {
        PLComPtr<IPLVariant> xml;
        CreateXMLFromPropertyBag(bag.Get(), xml.Put(), u"Root");
        BSTR text = nullptr;
        xml->AllocSysString(&text);
        PLComPtr<IPLPropertyBag> back;
        if (RestorePropertyBagFromXML(text, back.Put()) < 0) state.SkipWithError("restore failed");
        SysFreeString(text);
        benchmark::DoNotOptimize(back.Get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BagToXMLAndBackFloor(benchmark::State& state) {
    std::vector<Property> plain;
    MakeBag(static_cast<int>(state.range(0)), plain);
    for (auto _ : state) {
        xmlDocPtr doc = xmlNewDoc(X("1.0"));
        xmlNodePtr root = xmlNewDocNode(doc, nullptr, X("Root"), nullptr);
        xmlDocSetRootElement(doc, root);
        for (const Property& p : plain) {
            xmlNodePtr node = xmlNewDocNode(doc, nullptr, X("PROPERTY"), nullptr);
            xmlSetProp(node, X("DATATYPE"), X(p.type.c_str()));
            xmlSetProp(node, X("NAME"), X(p.name.c_str()));
            xmlAddChild(node, xmlNewDocTextLen(doc, X(p.text.c_str()), static_cast<int>(p.text.size())));
            xmlAddChild(root, node);
        }
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlBufferSetAllocationScheme(buffer, XML_BUFFER_ALLOC_DOUBLEIT);
        xmlNodeDump(buffer, doc, root, 0, 0);
        xmlFreeDoc(doc);
        xmlDocPtr parsed = xmlReadMemory(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                                         xmlBufferLength(buffer), nullptr, "UTF-8", XML_PARSE_NONET);
        xmlBufferFree(buffer);
        size_t total = 0;
        for (xmlNodePtr n = xmlDocGetRootElement(parsed)->children; n != nullptr; n = n->next) {
            xmlChar* name = xmlGetNoNsProp(n, X("NAME"));
            xmlChar* type = xmlGetNoNsProp(n, X("DATATYPE"));
            xmlChar* text = xmlNodeGetContent(n);
            total += xmlStrlen(name) + xmlStrlen(type) + xmlStrlen(text);
            xmlFree(name);
            xmlFree(type);
            xmlFree(text);
        }
        xmlFreeDoc(parsed);
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_BagToXMLAndBack)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BagToXMLAndBackFloor)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

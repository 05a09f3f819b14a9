// The one formatter of the document's ids (the format is listed in ids.h).
#include "ids.h"

Attributes& operator<<(Attributes& attributes, const ElementId& id) {
    const NoteOrigin& o = id.origin_;
    switch (id.kind_) {
    case ElementId::kPart: return attributes << " id=\"P" << o.part << "\"";
    case ElementId::kInstrument: return attributes << " id=\"P" << o.part << "-I1\"";
    case ElementId::kDrumInstrument: return attributes << " id=\"P" << o.part << "-I" << o.note + 1 << "\"";
    case ElementId::kMeasure: return attributes << " id=\"p" << o.part << "-m" << o.measure << "\"";
    case ElementId::kMeasureRest:
        return attributes << " id=\"p" << o.part << "-m" << o.measure << "-rest" << (o.lower ? "-staff2\"" : "\"");
    case ElementId::kNote:
    case ElementId::kTablatureNote:
        attributes << " id=\"p" << o.part << "-m" << o.measure << "-s" << o.section << "-v" << o.voice << "-n"
                   << o.note;
        if (o.lower) attributes << "-staff2";
        return attributes << (id.kind_ == ElementId::kTablatureNote ? "-tab\"" : "\"");
    }
    return attributes;
}

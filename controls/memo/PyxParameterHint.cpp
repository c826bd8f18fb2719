// Parameter-hint settings, the search for the call at the caret, and the parts of a hint.
#include "controls/memo/PyxParameterHint.h"

#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

char CharOf(const std::string& S) {
    return S.empty() ? '\0' : S[0];
}

[[maybe_unused]] const bool kHintParameterPublished = Publish<THintParameter, TPersistent>()
    .Integer("TextColor", &THintParameter::TextColor, &THintParameter::SetTextColor)
    .Default(clBlack)
    .Integer("BkColor", &THintParameter::BkColor, &THintParameter::SetBkColor)
    .Default(clInfoBk)
    .String("HintCharStart", [](const THintParameter& o) { return std::string(1, o.HintCharStart()); },
            [](THintParameter& o, const std::string& v) { o.SetHintCharStart(CharOf(v)); })
    .Default("(")
    .String("HintCharEnd", [](const THintParameter& o) { return std::string(1, o.HintCharEnd()); },
            [](THintParameter& o, const std::string& v) { o.SetHintCharEnd(CharOf(v)); })
    .Default(")")
    .String("HintCharDelimiter", [](const THintParameter& o) { return std::string(1, o.HintCharDelimiter()); },
            [](THintParameter& o, const std::string& v) { o.SetHintCharDelimiter(CharOf(v)); })
    .Default(";")
    .String("HintCharWriteDelimiter",
            [](const THintParameter& o) { return std::string(1, o.HintCharWriteDelimiter()); },
            [](THintParameter& o, const std::string& v) { o.SetHintCharWriteDelimiter(CharOf(v)); })
    .Default(",")
    .Object("Parameters", [](const THintParameter& o) { return &o.Parameters(); });

}  // namespace

void THintParameter::Assign(const TPersistent* Source) {
    const auto* source = dynamic_cast<const THintParameter*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    FTextColor = source->FTextColor;
    FBkColor = source->FBkColor;
    FHintCharStart = source->FHintCharStart;
    FHintCharEnd = source->FHintCharEnd;
    FHintCharDelimiter = source->FHintCharDelimiter;
    FHintCharWriteDelimiter = source->FHintCharWriteDelimiter;
    FParameters.Assign(&source->FParameters);
}

TCallStart FindCallStart(const std::string& Line, int Column, const THintParameter& Settings) {
    TCallStart result;
    // p is 1-based: the character left of the caret.
    int p = std::min(Column, static_cast<int>(Line.size()));
    int blanks = 0;
    bool opened = false;
    while (p > 0 && !opened && blanks < 5) {
        const char c = Line[static_cast<size_t>(p - 1)];
        if (c == Settings.HintCharWriteDelimiter()) ++result.ArgumentIndex;
        blanks = c == ' ' ? blanks + 1 : 0;
        if (c == Settings.HintCharEnd()) return {};
        if (c == Settings.HintCharStart()) opened = true;
        --p;
    }
    if (blanks >= 5) return {};
    result.Found = true;
    if (!opened) return result;
    std::string name;
    for (; p > 0; --p) {
        const char c = Line[static_cast<size_t>(p - 1)];
        if (c == ' ' || c == Settings.HintCharStart() || c == Settings.HintCharEnd() ||
            c == Settings.HintCharWriteDelimiter() || c == Settings.HintCharDelimiter())
            break;
        name.insert(name.begin(), c);
    }
    result.Name = Trim(name);
    return result;
}

THintParts SplitParameterHint(const std::string& Entry, int Index, const THintParameter& Settings) {
    std::string text = Entry;
    const size_t open = text.find(Settings.HintCharStart());
    if (open != std::string::npos) text = text.substr(open + 1);
    const size_t close = text.find(Settings.HintCharEnd());
    if (close != std::string::npos) text = text.substr(0, close);
    // The positions (1-based) of the delimiters, in order.
    std::vector<size_t> delimiters;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == Settings.HintCharWriteDelimiter() || text[i] == Settings.HintCharDelimiter())
            delimiters.push_back(i + 1);
    auto delimiter = [&](int n) { return n >= 1 && n <= static_cast<int>(delimiters.size()) ? delimiters[n - 1] : text.size(); };
    const size_t start = Index <= 0 ? 0 : delimiter(Index);
    const size_t end = std::max(start, delimiter(Index + 1));
    THintParts parts;
    parts.Before = text.substr(0, start);
    parts.Current = text.substr(start, end - start);
    parts.After = text.substr(end);
    parts.BoldPart = parts.Current.empty() ? 1 : 2;
    return parts;
}

}  // namespace ostra

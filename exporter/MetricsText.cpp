#include "MetricsText.h"

#include <prometheus/text_serializer.h>

TMetricsText::TMetricsText(const std::vector<TFamilySource>& families) {
    fFamilies.reserve(families.size());
    for (const TFamilySource& source : families)
        fFamilies.push_back({source, {}, 0, false});
}

// One scrape at a time brings the texts up to date; a scrape beside it waits and then
// finds them made.
std::string TMetricsText::Text() {
    const std::lock_guard lock(fLock);
    std::size_t size = 0;
    for (TFamilyText& family : fFamilies) {
        Refresh(family);
        size += family.Text.size();
    }
    std::string text;
    text.reserve(size);
    for (const TFamilyText& family : fFamilies)
        text += family.Text;
    return text;
}

// The count is read before the family: the text shows at least the changes counted.
void TMetricsText::Refresh(TFamilyText& family) {
    const std::uint64_t changes = family.Source.Changes->load();
    if (family.Made && family.Changes == changes)
        return;
    family.Text = prometheus::TextSerializer().Serialize(family.Source.Family->Collect());
    family.Changes = changes;
    family.Made = true;
}

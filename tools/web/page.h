#pragma once
// The live page: one self-contained document, its script and style inline,
// nothing fetched from elsewhere.
#include <string>

namespace web {
// The page with the site's model in it, so that it shows the newest round
// as soon as it loads; the events bring the later ones.
std::string page_html(const std::string& modelJson);
}  // namespace web

#pragma once
// The live page: one self-contained document, its script and style inline,
// nothing fetched from elsewhere.
namespace web {
extern const char* const kPageHtml;
}  // namespace web

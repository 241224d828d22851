// The host's visible texts and links: lines of the text members of the
// skin pack when they were loaded, else the built-in tables; and the
// loaders that read pack members into memory and into pictures.
#pragma once

#include <optional>
#include <string>
#include <vector>

class QImage;

// Reads "1:texts.txt" and "1:links.txt" through the file manager (a member
// that is missing leaves its list empty) and sets TextsLoaded.
void LoadHostTexts();
void ForgetHostTexts();
bool TextsLoaded();

// Line i of the main texts, else built-in entry i; "" past the tables.
std::string MainText(unsigned i);
// The only line of a one-line link list, line i, else built-in entry i.
std::string LinkText(unsigned i);
std::string UnitCaption(int n);
// Appends each text of a null-terminated array, nothing in between.
void AppendStringArray(std::string& target, const char* const* texts);
// The built-in help page (an HTML body).
std::string BuiltInHelpHtml();

// The whole member or file, or nothing.
std::optional<std::vector<unsigned char>> LoadPackMember(const std::string& name);
// Loads a Windows bitmap member into the image; a member that is missing or
// not a bitmap leaves the image as it was.
void LoadPackBitmap(const std::string& name, QImage& image);

// Splits bytes into lines ending at CR, LF or CR LF.
std::vector<std::string> SplitLines(const std::string& bytes);

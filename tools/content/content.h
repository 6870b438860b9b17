// The whole content of the show: every resource it asks for, made from code and the tune text.
#pragma once

#include <string>
#include <vector>

#include "content_model.h"

// The names the show asks for outside the scene files.
extern const char* const kShowResourceNames[];
extern const int kShowResourceCount;

// Every resource, in a fixed order; false with a message when a part cannot be made.
bool buildResources(const std::string& tune_path, std::vector<ContentResource>* resources, std::string* error);
// The module file of the tune text.
bool buildModule(const std::string& tune_text, std::vector<uint8_t>* module, std::string* error);

// The material of the default render: a source sound made on first use, the demo patch and a
// short phrase of notes.
#pragma once

#include <string>
#include <vector>

#include "render_options.h"

namespace render {

// Path of the built-in source sound in the user's cache folder, synthesised on first use.
// Empty with *error set when it cannot be written.
std::string builtin_source_sound(std::string* error);

// A state text whose working patch (slot 1) plays sound_path through the demo settings.
std::string demo_state(const std::string& sound_path);

std::vector<NoteSpec> demo_phrase();

}  // namespace render

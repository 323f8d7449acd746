// orrivane-mkimage: writes a BIOS image file from a recipe (see
// testbed/image_recipe.h for its form) and lists the members it placed.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

#include "image_builder.h"
#include "image_recipe.h"

int main(int argc, char** argv) {
  CLI::App app{"Writes a synthetic BIOS image file from a JSON recipe"};
  std::string recipe;
  std::string output;
  bool quiet = false;
  app.add_option("recipe", recipe, "JSON recipe of the image")->required();
  app.add_option("output", output, "image file to write")->required();
  app.add_flag("-q,--quiet", quiet, "print nothing on success");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  tb::RecipeImage image;
  try {
    image = tb::ImageFromRecipeFile(recipe);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orrivane-mkimage: %s\n", e.what());
    return 2;
  }
  bool written = tb::WriteImageFile(output, image.bytes);
  if (!written) {
    std::fprintf(stderr, "orrivane-mkimage: cannot write %s\n", output.c_str());
    return 1;
  }
  if (!quiet) {
    std::printf("%s: %zu bytes\n", output.c_str(), image.bytes.size());
    for (const tb::PlacedMember& m : image.members)
      std::printf("  member %-14s at 0x%06X, slot %6u, packed %6u of %6u%s\n", m.name.c_str(), m.offset, m.slot,
                  m.packed, m.original, m.systemBios ? " (system BIOS)" : "");
  }
  return 0;
}

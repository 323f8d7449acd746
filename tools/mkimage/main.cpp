// orrivane-mkimage: writes a BIOS image file from a recipe (see
// testbed/image_recipe.h for its form) and lists the members it placed.
#include <CLI/CLI.hpp>

#include <exception>
#include <iomanip>
#include <iostream>
#include <string>

#include "image_builder.h"
#include "image_recipe.h"

namespace {

int Run(int argc, char** argv) {
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
    std::cerr << "orrivane-mkimage: " << e.what() << "\n";
    return 2;
  }
  bool written = tb::WriteImageFile(output, image.bytes);
  if (!written) {
    std::cerr << "orrivane-mkimage: cannot write " << output << "\n";
    return 1;
  }
  if (!quiet) {
    std::cout << output << ": " << image.bytes.size() << " bytes\n";
    for (const tb::PlacedMember& m : image.members) {
      std::cout << "  member " << std::left << std::setw(14) << m.name << std::right << " at 0x" << std::hex
                << std::uppercase << std::setw(6) << std::setfill('0') << m.offset << std::dec << std::setfill(' ')
                << ", slot " << std::setw(6) << m.slot << ", packed " << std::setw(6) << m.packed << " of "
                << std::setw(6) << m.original << (m.systemBios ? " (system BIOS)" : "") << "\n";
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "orrivane-mkimage: " << e.what() << "\n";
    return 2;
  }
}

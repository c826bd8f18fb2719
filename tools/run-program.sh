#!/bin/sh
# Starts the product's main program from the build folder given as $1.
dir="$1"
if [ -x "$dir/editor/OstraEditor" ]; then
  exec "$dir/editor/OstraEditor"
fi
echo "No program is built yet: the editor (OstraEditor) does not exist in this version."
echo "The engine libraries are built; 'make test' runs their tests."

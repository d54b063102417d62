#!/usr/bin/env bash
# The plugin SDK as a plugin author gets it: install the header and the
# pkg-config file, then build the example plugin with cc and pkg-config
# alone, and check that it exports what the program looks up.
# usage: plugin-sdk.sh BUILD_DIR EXAMPLE_SOURCE
set -eu
build=$1
example=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --component plugin-sdk --prefix "$work/prefix" >/dev/null
pc_dir=$(dirname "$(find "$work/prefix" -name lumenwick-plugin.pc)")
cflags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --define-prefix --cflags lumenwick-plugin)
test -f "$work/prefix/include/lumenwick/lumenwick-plugin.h"
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -Werror -shared -fPIC $cflags -o "$work/hello.so" "$example"
nm -D --defined-only "$work/hello.so" | grep -q ' T lumenwick_plugin_init$'
nm -D --defined-only "$work/hello.so" | grep -q ' T lumenwick_plugin_deinit$'
echo "the example builds against the installed SDK"

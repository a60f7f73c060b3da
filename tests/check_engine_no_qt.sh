#!/usr/bin/env bash
# Fails when any engine folder includes a Qt header.
top=${1:-.}
cd "$top" || exit 2
found=$(grep -rnE '#[[:space:]]*include[[:space:]]*[<"]Q[A-Za-z]*(/|>|")' platform net ftp session listing sites 2>/dev/null)
if [ -n "$found" ]; then
  echo "Qt headers in the engine:"
  echo "$found"
  exit 1
fi
echo "engine is free of Qt headers"

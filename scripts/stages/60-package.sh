# The packages: builds them with scripts/package, then checks the Debian package
# (control fields, file list, the installed tool, manual pages, completion), that
# `cmake --install` installs the same files, and, where the Windows cross build
# exists, the zip.
set -euo pipefail
bash scripts/package
bash tests/package/check-deb.sh dist/talvo-cmd_0.8_amd64.deb
bash tests/package/check-install.sh build-pkg dist/talvo-cmd_0.8_amd64.deb
if [ -f build-win/talvo_cmd.exe ]; then
  bash tests/package/check-zip.sh dist/talvo-cmd-0.8-win64.zip
else
  echo "zip check skipped: no Windows build (build-win/talvo_cmd.exe)"
fi

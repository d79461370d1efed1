# Shared by the scripts: installs the Debian packages among "$@" that are not
# installed yet (as root, or through sudo).
install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "${package}" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("${package}")
  done
  ((${#missing[@]} == 0)) && return 0
  local sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
    "${missing[@]}"
}

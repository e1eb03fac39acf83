# What the image benchmarks build their file systems from; sourced.

# tree_with_log FOLDERS LOG: tree/ of FOLDERS folders of 1,000 empty files
# each, and LOG as tree/Windows/events.dat.
tree_with_log() {
  mkdir -p tree/Windows
  for d in $(seq -w 0 $(($1 - 1))); do
    mkdir "tree/d$d"
    (cd "tree/d$d" && seq -w 0 999 | xargs touch)
  done
  cp "$2" tree/Windows/events.dat
}

# ntfs_of FOLDER IMAGE SIZE [MKNTFS_OPTION...]: an NTFS of SIZE holding
# FOLDER's files, without root or a mount.
ntfs_of() {
  local folder=$1 image=$2 size=$3
  shift 3
  wimcapture "$folder" "$image.wim" --compress=none > /dev/null
  truncate -s "$size" "$image"
  mkntfs -F -Q -q "$@" "$image" > /dev/null 2>&1
  wimapply "$image.wim" "$image" > /dev/null
  rm "$image.wim"
}

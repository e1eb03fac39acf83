/* Makes the folders of a path inside an NTFS file system image, without
 * mounting it, leaving the folders already there as they are.
 *   ntfs_mkdir IMAGE /DIR/SUBDIR */
/* The library's headers expect what its own build configures. */
#define HAVE_SYS_TYPES_H 1
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <ntfs-3g/volume.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/unistr.h>

int main(int argc, char **argv) {
  if (argc != 3 || argv[2][0] != '/') {
    fprintf(stderr, "usage: ntfs_mkdir IMAGE /DIR/SUBDIR\n");
    return 2;
  }
  ntfs_volume *vol = ntfs_mount(argv[1], 0);
  if (vol == NULL) {
    perror("ntfs_mount");
    return 1;
  }
  char *path = strdup(argv[2]);
  ntfs_inode *dir = ntfs_inode_open(vol, FILE_root);
  for (char *name = strtok(path, "/"); name != NULL && dir != NULL; name = strtok(NULL, "/")) {
    ntfschar *uname = NULL;
    const int length = ntfs_mbstoucs(name, &uname);
    if (length < 0) {
      fprintf(stderr, "ntfs_mkdir: %s is no name\n", name);
      return 1;
    }
    const u64 found = ntfs_inode_lookup_by_name(dir, uname, length);
    ntfs_inode *next = found != (u64)-1 ? ntfs_inode_open(vol, MREF(found))
                                        : ntfs_create(dir, 0, uname, (u8)length, S_IFDIR);
    if (next == NULL) {
      perror(name);
      return 1;
    }
    free(uname);
    ntfs_inode_close(dir);
    dir = next;
  }
  if (dir == NULL || ntfs_inode_close(dir) != 0) {
    perror("ntfs_mkdir");
    return 1;
  }
  free(path);
  return ntfs_umount(vol, 0) == 0 ? 0 : 1;
}

/* Deletes one file inside an NTFS file system image, without mounting it, as
 * Windows deletes a file: its entry and clusters become free, its bytes stay.
 *   ntfs_delete IMAGE /DIR/NAME */
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
    fprintf(stderr, "usage: ntfs_delete IMAGE /DIR/NAME\n");
    return 2;
  }
  char *parent = strdup(argv[2]);
  char *slash = strrchr(parent, '/');
  const char *name = argv[2] + (slash - parent) + 1;
  *(slash == parent ? slash + 1 : slash) = '\0';

  ntfs_volume *vol = ntfs_mount(argv[1], 0);
  if (vol == NULL) {
    perror("ntfs_mount");
    return 1;
  }
  ntfs_inode *dir = ntfs_pathname_to_inode(vol, NULL, parent);
  ntfs_inode *file = ntfs_pathname_to_inode(vol, NULL, argv[2]);
  ntfschar *uname = NULL;
  const int length = ntfs_mbstoucs(name, &uname);
  if (dir == NULL || file == NULL || length < 0) {
    fprintf(stderr, "ntfs_delete: %s not found\n", argv[2]);
    return 1;
  }
  /* ntfs_delete closes both inodes. */
  if (ntfs_delete(vol, argv[2], file, dir, uname, (unsigned char)length) != 0) {
    perror("ntfs_delete");
    return 1;
  }
  free(uname);
  free(parent);
  return ntfs_umount(vol, 0) == 0 ? 0 : 1;
}

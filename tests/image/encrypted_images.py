"""Volumes that Linux tools cannot make, built at test time on top of the
fixtures Windows made: a BitLocker volume whose encrypted area holds a file
system of the test's own, alone or in a GPT disk as Windows lays it out, and
a volume with shadow-copy stores whose live file system holds a file of the
test's own. No root, no mounts.

Needs cryptsetup (cryptsetup-bin), Python's cryptography (python3-cryptography),
sfdisk (fdisk), qemu-img (qemu-utils), ntfscp (ntfs-3g), and a C compiler with
libntfs-3g's headers (ntfs-3g-dev) for the folder maker."""
import configparser
import os
import re
import shutil
import subprocess
import tarfile
import tempfile
from typing import NamedTuple, Optional

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

HERE = os.path.dirname(os.path.abspath(__file__))
# The fixtures Windows made, in the shared folder beside the repository.
FIXTURES = os.path.normpath(os.path.join(HERE, os.pardir, os.pardir, os.pardir, "shared", "fixtures"))
SECTOR = 512
MIB = 1 << 20


def tool(name):
    """A command's path: the disk tools live in the administrator's folders,
    which a user's PATH leaves out on Debian."""
    return shutil.which(name, path=os.pathsep.join((os.environ.get("PATH", ""), "/usr/sbin", "/sbin"))) or name


class BitLocker(NamedTuple):
    path: str
    recovery_password: Optional[str]  # None on a volume with only a clear key
    password: Optional[str]  # None where the volume has no password protector
    startup_key: Optional[str]  # the .BEK file, beside the volume, or None
    # As libbde gives it once unlocked (a copy as it is: the volume's own);
    # None where the file system inside is one libbde cannot size, and so
    # refuses.
    size: Optional[int]
    cipher: str  # as the fixtures name it: aes-xts-plain64, aes-cbc-eboiv, aes-cbc-elephant
    second_recovery_password: Optional[str]  # a volume's other one, if it has two


def bitlocker_volume(fixture_archive, name, filesystem_image, out_path, workdir):
    """Writes to `out_path` the archive's volume `name` (bitlk-aes-xts-128,
    bitlk-aes-cbc-128, ...) with the bytes of `filesystem_image` as its
    content, encrypted with the volume's own key, so that any of the volume's
    secrets opens it on those bytes at its offset 0. The metadata is left as
    Windows wrote it. Without a file system image, the volume is copied as
    it is (its data sectors were zeroed: past the first sectors of its file
    system, it decrypts to noise)."""
    with tarfile.open(fixture_archive) as archive:
        members = {os.path.basename(m.name): m for m in archive.getmembers() if m.isfile()}
        conf = configparser.ConfigParser(interpolation=None)
        conf.optionxform = str
        conf.read_string(archive.extractfile(members["images.conf"]).read().decode("utf-8"))
        if name not in conf:
            raise ValueError(f"no volume {name} in {fixture_archive}")
        secrets = conf[name]
        copy_sparse(archive, members[name + ".img"], out_path)
        startup_key = None
        if secrets.get("SK_VMK_GUID"):
            bek = secrets["SK_VMK_GUID"].upper() + ".BEK"
            startup_key = os.path.join(os.path.dirname(os.path.abspath(out_path)), bek)
            copy_sparse(archive, members[bek], startup_key)

    recovery = secrets.get("RP") or None
    layout = bitlk_layout(out_path)
    if filesystem_image is None:
        size = layout["size"]
    else:
        size = encrypt_into(out_path, layout, filesystem_image, recovery, workdir)
    return BitLocker(out_path, recovery, secrets.get("PW") or None, startup_key, size, secrets["CIPHER"],
                     secrets.get("RP2") or None)


def encrypt_into(volume, layout, filesystem_image, recovery_password, workdir):
    """Encrypts the file system into the volume's data area; returns the
    volume's size as libbde will give it."""
    with open(filesystem_image, "rb") as f:
        plain = f.read()
    sector, header, header_size = layout["sector"], layout["header"], layout["header_size"]
    if len(plain) % sector or len(plain) < header_size:
        raise ValueError(f"a file system of {len(plain)} bytes does not fit {volume}'s {sector}-byte sectors"
                         f" or its {header_size}-byte header")
    if len(plain) > min(layout["areas"]):
        raise ValueError(f"a file system of {len(plain)} bytes reaches {volume}'s metadata at {min(layout['areas'])}")
    encrypt = {"xts-plain64": encrypt_xts, "cbc-eboiv": encrypt_cbc_eboiv}.get(layout["mode"])
    if encrypt is None:
        raise ValueError(f"{volume}: {layout['mode']} is not encrypted here")
    key = volume_key(volume, recovery_password, workdir)
    with open(volume, "r+b") as f:
        # The file system's first sectors are stored where the header segment
        # says, encrypted for that place; the volume's own first sectors keep
        # BitLocker's boot sector.
        f.seek(header)
        f.write(encrypt(key, plain[:header_size], header, sector))
        f.seek(header_size)
        f.write(encrypt(key, plain[header_size:], header_size, sector))
    return libbde_size(plain, layout)


def copy_sparse(archive, member, path):
    """Writes a member of the archive, leaving its holes holes."""
    source = archive.extractfile(member)
    with open(path, "wb") as out:
        out.truncate(member.size)
        for offset, length in (member.sparse or [(0, member.size)]):
            source.seek(offset)
            out.seek(offset)
            out.write(source.read(length))


def volume_key(volume, recovery_password, workdir):
    """The full-volume encryption key, which cryptsetup reads with the
    recovery password."""
    if recovery_password is None:
        raise ValueError(f"{volume} has no recovery password to read its key with")
    key_file = os.path.join(tempfile.mkdtemp(dir=workdir), "key")
    subprocess.run([tool("cryptsetup"), "bitlkDump", "--dump-volume-key", "--volume-key-file", key_file, volume],
                   input=recovery_password.encode(), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)
    with open(key_file, "rb") as f:
        key = f.read()
    os.remove(key_file)
    return key


def bitlk_layout(volume):
    """The cipher mode, sector size and size of the volume, the offsets of
    its metadata areas and header segment, and where its relocated first
    sectors are, as cryptsetup reads them."""
    dump = subprocess.run([tool("cryptsetup"), "bitlkDump", volume], check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).stdout.decode()
    segments = re.findall(r"^ *\d+: (FVE metadata area|Volume header)\n\s*Offset:\s*(\d+) \[bytes\]\n"
                          r"\s*Size:\s*(\d+) \[bytes\]", dump, re.M)
    header = [(int(offset), int(size)) for kind, offset, size in segments if kind == "Volume header"]
    if len(header) != 1:
        raise ValueError(f"{volume}: not one volume header segment in cryptsetup's dump")

    def field(label):
        return re.search(rf"^{label}:\s*(\S+)", dump, re.M).group(1)

    return {"mode": field("Cipher mode"), "sector": int(field("Sector size")), "size": int(field("Volume size")),
            "to_go": dump.startswith("Info for BITLK To Go device"),
            "areas": [int(offset) for _, offset, _ in segments],
            "header": header[0][0], "header_size": header[0][1]}


def encrypt_xts(key, data, offset, sector):
    """AES-XTS, each sector with its number as the tweak."""
    out = bytearray(len(data))
    first = offset // sector
    for i in range(0, len(data), sector):
        tweak = (first + i // sector).to_bytes(16, "little")
        out[i:i + sector] = Cipher(algorithms.AES(key), modes.XTS(tweak)).encryptor().update(data[i:i + sector])
    return bytes(out)


def encrypt_cbc_eboiv(key, data, offset, sector):
    """AES-CBC, each sector with its byte offset, encrypted, as the vector."""
    offsets = b"".join((offset + i).to_bytes(16, "little") for i in range(0, len(data), sector))
    vectors = Cipher(algorithms.AES(key), modes.ECB()).encryptor().update(offsets)
    out = bytearray(len(data))
    for n, i in enumerate(range(0, len(data), sector)):
        cipher = Cipher(algorithms.AES(key), modes.CBC(vectors[16 * n:16 * n + 16]))
        out[i:i + sector] = cipher.encryptor().update(data[i:i + sector])
    return bytes(out)


def libbde_size(plain, layout):
    """A To Go volume's size is the one its metadata gives. Any other's libbde
    takes from the NTFS boot sector inside: its sector count times the
    BitLocker volume's sector size (not NTFS's); it opens no other file
    system there."""
    if layout["to_go"]:
        return layout["size"]
    if plain[3:11] != b"NTFS    ":
        return None
    return int.from_bytes(plain[0x28:0x30], "little") * layout["sector"]


def bitlocker_disk(out_path, esp_image, volume):
    """A GPT disk as Windows lays one out: the EFI system partition holding
    `esp_image` (a FAT32 file system), the reserved partition (no file
    system, 16 MiB), and a basic data partition holding the BitLocker
    `volume`, each at a MiB. Returns the three partitions' byte offsets."""
    esp_size, volume_size = os.path.getsize(esp_image), os.path.getsize(volume)
    if esp_size % SECTOR or volume_size % SECTOR:
        raise ValueError("the partitions' images are not whole sectors")
    esp_at = MIB
    reserved_at = esp_at + -(-esp_size // MIB) * MIB
    volume_at = reserved_at + 16 * MIB
    size = volume_at + -(-volume_size // MIB) * MIB + MIB  # the backup table after it
    with open(out_path, "wb") as f:
        f.truncate(size)
    # sfdisk, as sgdisk waits a second for the kernel on every disk it writes.
    table = "label: gpt\n" + "".join(
        f'start={at // SECTOR}, size={length // SECTOR}, type={kind}, name="{name}"\n'
        for at, length, kind, name in (
            (esp_at, esp_size, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system partition"),
            (reserved_at, 16 * MIB, "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved partition"),
            (volume_at, volume_size, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Basic data partition")))
    subprocess.run([tool("sfdisk"), "-q", out_path], input=table.encode(), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)
    place_sparse(out_path, esp_image, esp_at)
    place_sparse(out_path, volume, volume_at)
    return esp_at, reserved_at, volume_at


def place_sparse(disk, image, at):
    """Copies the image into the disk at a byte offset, skipping zero blocks
    (the disk's holes are zeros already)."""
    with open(image, "rb") as src, open(disk, "r+b") as dst:
        offset = 0
        while block := src.read(MIB):
            if block.count(0) != len(block):
                dst.seek(at + offset)
                dst.write(block)
            offset += len(block)


def shadow_copy_volume(fixture_qcow2, log_path, out_path, workdir, inside="/Windows/events.dat", ntfs_mkdir=None):
    """The fixture's NTFS volume with its two shadow-copy stores, as a raw
    image at `out_path`, with the file `log_path` copied into its live file
    system at `inside` (folders made as needed). The stores are left as they
    are: a block they did not preserve reads from the live volume, so the
    copy may show through them too. `ntfs_mkdir` is the built folder maker;
    without one it is built in `workdir`."""
    subprocess.run(["qemu-img", "convert", "-f", "qcow2", "-O", "raw", fixture_qcow2, out_path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    folder = os.path.dirname(inside)
    if folder != "/":
        if ntfs_mkdir is None:
            ntfs_mkdir = os.path.join(workdir, "ntfs_mkdir")
            subprocess.run(["cc", "-O1", "-o", ntfs_mkdir, os.path.join(HERE, "ntfs_mkdir.c"), "-lntfs-3g"],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        subprocess.run([ntfs_mkdir, out_path, folder], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    subprocess.run([tool("ntfscp"), out_path, log_path, inside], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)
    return out_path

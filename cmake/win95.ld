/* Three sections instead of the default link's four or five: code, one
   writable section with the imports and all data, resources. With three
   section headers the headers fit in one 512-byte block, and the constants
   no longer round up to a file block of their own.

   The import descriptors start the section, as in the default link. The
   constants share the writable section: the loader patches the import
   address table in place, so that section is writable anyway, and the
   program writes to no constant. The zero-initialised data comes last; ld
   writes its zeros into the file, so it starts at zero whatever a loader
   does with the tail of a section.

   Anything not named here (constructors, TLS, unwind tables, relocations)
   becomes a section of its own, which the binary checks refuse. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
  }
  .idata BLOCK(__section_alignment__) :
  {
    /* The import pieces in ld's own order: descriptors, lookup tables,
       address table, names. From the four symbols below ld makes the import
       directory the descriptors alone and the address table .idata$5 alone;
       without them the directory would span the whole section, data
       included. ld takes their values as they are, so they hold addresses
       relative to the image base. */
    ".idata$2" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* These zeroes mark the end of the import list. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$4))
    ".idata$5" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$5))
    ".idata$6" = ABSOLUTE(. - __image_base__);
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    *(.rdata)
    *(SORT(.rdata$*))
    *(.data)
    *(.data2)
    *(SORT(.data$*))
    /* The binary checks find the zero-initialised data by these two in the
       link map. */
    __bss_start__ = .;
    *(.bss)
    *(COMMON)
    __bss_end__ = .;
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  /DISCARD/ :
  {
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
  }
}

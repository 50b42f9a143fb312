"""The program's dialogue and diagnostics, byte for byte, for the end-to-end tests."""

CRLF = b"\r\n"


def list_line(item):
    """A list line: one blank, the item, CR LF (items of up to 79 bytes)."""
    assert len(item) <= 79
    return b" " + item + CRLF


def record(text):
    return text + CRLF


RULE = b"=" * 74
BANNER_TITLE = b' EXECUTE THE" PROGRAM BY TYPING -  PAGEOUT \'FILENAME\' - THE DEFAULTS ARE: '
BANNER_ITEM_1 = b" " * 6 + b" 1: PDF FILE CREATION FOR VIEWING & PRINTING TO ANY PRINTER"
BANNER_ITEM_2 = b" " * 6 + b" 2: LANDSCAPE WITH A MAXIMUM OF 132 COLUMNS"
assert (len(BANNER_TITLE), len(BANNER_ITEM_1), len(BANNER_ITEM_2)) == (74, 65, 49)

BANNER = (list_line(b" ") + CRLF + CRLF
          + record(RULE) + record(BANNER_TITLE) + record(BANNER_ITEM_1) + record(BANNER_ITEM_2)
          + record(RULE) + CRLF + CRLF + CRLF)

NAME_PROMPT = b" Name of file to be printed: "
NAME_ERROR = list_line(b" ") + list_line(b"ERROR ON FILENAME INPUT!  TRY AGAIN.") + list_line(b" ")
LEGEND = (list_line(b" ") + list_line(b"     <Enter> for yes") + list_line(b"     <N> for no")
          + list_line(b"     <Q> to quit") + list_line(b" "))
LANDSCAPE_QUESTION = b" Landscape, 132 columns maximum? "
PORTRAIT_132_QUESTION = b" Portrait, 132 columns maximum? "
PORTRAIT_80_QUESTION = b" Portrait, 80 columns maximum? "
AFTER_LANDSCAPE_NO = list_line(b" ")
FAREWELL = list_line(b" ") + list_line(b"EXITING PROGRAM") + list_line(b" ")

# Converter command prefixes with the blanks that stand before the file name.
LANDSCAPE_132 = "TEXT2PDF.EXE -c160 -L -s8 -v7" + " " * 6
PORTRAIT_132 = "TEXT2PDF.EXE -l92 -c132 -s6 -v8" + " " * 2
PORTRAIT_80 = "TEXT2PDF.EXE" + " "
REDIRECTION = " > OT.PDF"


def converter(prefix, name):
    return prefix + name + REDIRECTION


# Diagnostic lines as they arrive on standard error (a text stream: CR LF becomes CR CR LF).
END_OF_INPUT = b"apperr: severe (24): end-of-file during read, unit -4, file CONIN$\r\r\n"
WRITE_ERROR = b"apperr: severe (38): error during write, unit -1, file CONOUT$\r\r\n"

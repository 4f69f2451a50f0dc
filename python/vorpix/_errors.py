"""The exceptions of vorpix: every failure to read a file is a vorpix.Error."""


class Error(Exception):
    """A file that vorpix cannot read, or data in it that do not add up.

    Attributes:
        code: "invalid" (the data do not add up), "io" (the file cannot be
            opened or read), "unsupported" (a valid file of a kind or version
            not read) or "memory".
        file: the file at fault ("" when none is named).
        place: where in it ("record 12", "header", or "").
        reason: what is wrong, without the file and place.
    """

    code = "invalid"
    file = ""
    place = ""
    reason = ""


class InvalidDataError(Error, ValueError):
    """The data do not add up, or a value cannot be used."""

    code = "invalid"


class ReadError(Error, OSError):
    """A file cannot be opened or read."""

    code = "io"


class UnsupportedError(Error):
    """A valid file of a kind or version that vorpix does not read."""

    code = "unsupported"


class OutOfMemoryError(Error, MemoryError):
    """Not enough memory for what the file asks."""

    code = "memory"


class DataWarning(UserWarning):
    """Something in a file that reading passed over: a record's geometry
    left out (coordinates that are not finite numbers), text that does not
    convert from the table's encoding, a .cpg naming no known code page."""


_BY_CODE = {c.code: c for c in (InvalidDataError, ReadError, UnsupportedError, OutOfMemoryError)}


def make(code, message, file, place, reason):
    """The exception for an error of the feature layer (called by _vorpix)."""
    error = _BY_CODE.get(code, Error)(message)
    error.file, error.place, error.reason = file, place, reason
    return error

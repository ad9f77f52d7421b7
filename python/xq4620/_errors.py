# SPDX-License-Identifier: MIT
"""The exception an adapter or chip failure raises."""


class BoardError(OSError):
    """The adapter or the chip failed.

    An ``OSError``: ``errno`` is the system's error number (``errno.ENXIO``
    when the chip does not answer), ``register`` the register involved (an
    int, or None for the adapter itself), ``reason`` the library's reason in
    words. ``str()`` gives the whole message, worded as the ``xq4620``
    command words it.
    """

    def __init__(self, errno, message, register=None, reason=None):
        super().__init__(errno, reason or message)
        self.message = message
        self.register = register
        self.reason = reason or message

    def __str__(self):
        return self.message

    def __reduce__(self):
        return (type(self), (self.errno, self.message, self.register, self.reason))

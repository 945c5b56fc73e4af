// A buffer the library allocated (a document, an envelope or an answer),
// received straight into this handle by the marshaler, so that no path
// between the call's return and its release can lose it.
using System;
using System.Runtime.InteropServices;

namespace Dvkc
{
    /// <summary>
    /// A buffer returned by the library, given back to <see cref="Native.vFreeData"/> exactly once:
    /// when the handle is disposed, or else when it is finalized.
    /// </summary>
    public sealed class LibraryBuffer : SafeHandle
    {
        /// <summary>An empty handle, for the marshaler to fill with a call's out-buffer.</summary>
        public LibraryBuffer() : base(IntPtr.Zero, true)
        {
        }

        /// <summary>True while the handle holds no buffer (a call that failed leaves it so).</summary>
        public override bool IsInvalid
        {
            get { return handle == IntPtr.Zero; }
        }

        /// <summary>The first <paramref name="length"/> bytes of the buffer, copied.</summary>
        /// <param name="length">How many bytes to copy: the length the call returned.</param>
        /// <returns>The copy.</returns>
        /// <exception cref="ObjectDisposedException">The buffer was released.</exception>
        /// <exception cref="InvalidOperationException">The handle holds no buffer.</exception>
        /// <exception cref="ArgumentOutOfRangeException"><paramref name="length"/> is negative.</exception>
        public byte[] ToArray(int length)
        {
            if (IsClosed)
                throw new ObjectDisposedException(GetType().FullName);
            if (IsInvalid)
                throw new InvalidOperationException("dvkc: the handle holds no buffer");
            if (length < 0)
                throw new ArgumentOutOfRangeException("length", length, "dvkc: a length cannot be negative");
            bool added = false;
            try {
                DangerousAddRef(ref added);
                var copy = new byte[length];
                Marshal.Copy(handle, copy, 0, length);
                return copy;
            } finally {
                if (added)
                    DangerousRelease();
            }
        }

        /// <summary>Gives the buffer back to the library.</summary>
        /// <returns>Always true.</returns>
        protected override bool ReleaseHandle()
        {
            Native.vFreeData(handle);
            return true;
        }
    }
}

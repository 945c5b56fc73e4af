// Strings to the bytes the library takes: the ANSI code page on Windows (the
// DLL hands paths to the C runtime and OpenSSL unconverted, in that code
// page), UTF-8 elsewhere. The encoder throws on any character it cannot
// take, so nothing is ever sent as '?'.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Dvkc
{
    /// <summary>How the binding turns strings into the library's single-byte texts.</summary>
    public static class NativeText
    {
        static readonly Encoding Strict = Choose();

        /// <summary>
        /// The encoding strings are sent in: the ANSI code page on Windows (ASCII where the runtime
        /// offers no encoder for that code page), UTF-8 elsewhere; either refuses what it cannot encode.
        /// </summary>
        public static Encoding Encoding
        {
            get { return Strict; }
        }

        /// <summary>The bytes of <paramref name="text"/>, or an exception naming the parameter.</summary>
        /// <param name="text">The text.</param>
        /// <param name="paramName">The caller's parameter, for the exception.</param>
        /// <returns>The text's bytes, without a NUL.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="text"/> is null.</exception>
        /// <exception cref="ArgumentException">
        /// <paramref name="text"/> holds a NUL or a character <see cref="Encoding"/> cannot encode.
        /// </exception>
        public static byte[] GetBytes(string text, string paramName)
        {
            if (text == null)
                throw new ArgumentNullException(paramName);
            if (text.IndexOf('\0') >= 0)
                throw new ArgumentException("dvkc: the text holds a NUL character", paramName);
            try {
                return Strict.GetBytes(text);
            } catch (EncoderFallbackException e) {
                throw new ArgumentException("dvkc: the text holds a character " + Strict.WebName +
                                                " cannot encode, at index " + e.Index,
                                            paramName, e);
            }
        }

        /// <summary>The text's bytes followed by a NUL, as the library reads them.</summary>
        internal static byte[] Terminated(string text, string paramName)
        {
            return Terminated(GetBytes(text, paramName), paramName);
        }

        /// <summary>The bytes followed by a NUL; an ArgumentException if they hold one already.</summary>
        internal static byte[] Terminated(byte[] bytes, string paramName)
        {
            if (bytes == null)
                throw new ArgumentNullException(paramName);
            if (Array.IndexOf(bytes, (byte)0) >= 0)
                throw new ArgumentException("dvkc: the text holds a NUL byte", paramName);
            var copy = new byte[bytes.Length + 1];
            Buffer.BlockCopy(bytes, 0, copy, 0, bytes.Length);
            return copy;
        }

        static Encoding Choose()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT)
                return new UTF8Encoding(false, true);
            try {
                return Encoding.GetEncoding((int)GetACP(), EncoderFallback.ExceptionFallback,
                                            DecoderFallback.ExceptionFallback);
            } catch (NotSupportedException) {
                return Encoding.GetEncoding("us-ascii", EncoderFallback.ExceptionFallback,
                                            DecoderFallback.ExceptionFallback);
            } catch (ArgumentException) {
                return Encoding.GetEncoding("us-ascii", EncoderFallback.ExceptionFallback,
                                            DecoderFallback.ExceptionFallback);
            }
        }

        [DllImport("kernel32.dll")]
        static extern uint GetACP();
    }
}

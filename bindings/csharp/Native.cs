// The C interface of dvkc.h for P/Invoke: the two structures with their
// fixed arrays and the six functions.
//
// - The library is "DVKCDLL" (DVKCDLL.dll on Windows; on Mono elsewhere the
//   DLL map in Dvkc.dll.config names libdvkc.so.1).
// - Calling convention: Cdecl, on 32-bit Windows as everywhere (DllImport's
//   default there would be StdCall, which would unbalance the stack).
// - Texts cross as NUL-terminated bytes that the caller has encoded (Query
//   does it through NativeText, which refuses what it cannot encode), never
//   as strings the marshaler converts: a marshaler's best-fit mapping would
//   turn a character it cannot map into '?' without a word.
// - Returned buffers arrive in a LibraryBuffer, which gives them back to
//   vFreeData.
// - The context may be passed by reference (copied in and out per call), but
//   the record table it points to must stay at one address from
//   iMake_DVKReqPKT to iParse_DVKResponsePKT: Query keeps it in unmanaged
//   memory (RecordTable).
using System;
using System.Runtime.InteropServices;

namespace Dvkc
{
    /// <summary>
    /// One record of the table, as dvkc.h lays it out (32 bytes: SN at 0, SSID at 17, Code at 28).
    /// <see cref="Query"/> writes its table itself; this declaration gives the layout.
    /// </summary>
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Ansi, Pack = 8)]
    public struct QueryRecord
    {
        /// <summary>The serial text, at most <see cref="Native.SnMax"/> bytes.</summary>
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.SnMax + 1)]
        public string SN;

        /// <summary>The identifier text, at most <see cref="Native.SsidMax"/> bytes.</summary>
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.SsidMax + 1)]
        public string SSID;

        /// <summary>The record's result: -1 until an answer gives it one.</summary>
        public int Code;
    }

    /// <summary>
    /// The query context of dvkc.h: ClientID at 0, Nonce at 101, ReqTime at 117, ErrID at 132,
    /// TotalCount at 136 and Records at 144 with 64-bit pointers (140 with 32-bit ones).
    /// </summary>
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Ansi, Pack = 8)]
    public struct QueryContext
    {
        /// <summary>The uppercase hex SHA-1 of the identity file (40 characters).</summary>
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 101)]
        public string ClientID;

        /// <summary>The request's nonce (15 digits).</summary>
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)]
        public string Nonce;

        /// <summary>The request's local time, yyyyMMddHHmmss.</summary>
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 15)]
        public string ReqTime;

        /// <summary>The service's error number after a parse that reported one; 0 otherwise.</summary>
        public int ErrID;

        /// <summary>The number of records at <see cref="Records"/>.</summary>
        public int TotalCount;

        /// <summary>The record table, in memory that stays at one address from build to parse.</summary>
        public IntPtr Records;
    }

    /// <summary>The six functions of dvkc.h, declared as the library exports them.</summary>
    public static class Native
    {
        /// <summary>The library's name in every import.</summary>
        public const string Library = "DVKCDLL";

        /// <summary>Bytes of a record's SN, without the NUL.</summary>
        public const int SnMax = 16;

        /// <summary>Bytes of a record's SSID, without the NUL.</summary>
        public const int SsidMax = 10;

        /// <summary>Records one answer can carry.</summary>
        public const int MaxRecords = 1000;

        /// <summary>Builds the request document and stamps the context.</summary>
        /// <param name="seedModifier">Enters the nonce's seed.</param>
        /// <param name="identityPath">The identity file's path, NUL-terminated.</param>
        /// <param name="ctx">The context; its Records must stay in place until the parse.</param>
        /// <param name="outLen">The document's length.</param>
        /// <param name="outBuf">The document, on success.</param>
        /// <returns>0, or a result of <see cref="Call.Build"/>.</returns>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int iMake_DVKReqPKT(int seedModifier, byte[] identityPath, ref QueryContext ctx,
                                                 out int outLen, out LibraryBuffer outBuf);

        /// <summary>Wraps a document and its signature into the request envelope.</summary>
        /// <param name="docLen">Written into the envelope as it is.</param>
        /// <param name="doc">The document, NUL-terminated.</param>
        /// <param name="sigLen">Not used by the library.</param>
        /// <param name="sig">The signature, NUL-terminated.</param>
        /// <param name="outLen">The envelope's length.</param>
        /// <param name="outBuf">The envelope, on success.</param>
        /// <returns>0, or a result of <see cref="Call.Wrap"/>.</returns>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int iMake_DVKRequestPKT(int docLen, byte[] doc, int sigLen, byte[] sig, out int outLen,
                                                     out LibraryBuffer outBuf);

        /// <summary>Posts the body over HTTPS and reads the whole answer; blocks without a time limit.</summary>
        /// <param name="host">Host name or dotted IPv4 address, NUL-terminated.</param>
        /// <param name="port">The port; the library takes its low 16 bits.</param>
        /// <param name="trustPath">PEM file of the certificates the server must chain to, NUL-terminated.</param>
        /// <param name="urlPath">The path after the host, NUL-terminated.</param>
        /// <param name="bodyLen">Sets Content-length only.</param>
        /// <param name="body">The text posted, NUL-terminated.</param>
        /// <param name="outLen">The answer's length.</param>
        /// <param name="outBuf">The answer, on success.</param>
        /// <returns>0, or a result of <see cref="Call.Exchange"/>.</returns>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int iSSL_SendThenRecv(byte[] host, int port, byte[] trustPath, byte[] urlPath,
                                                   int bodyLen, byte[] body, out int outLen,
                                                   out LibraryBuffer outBuf);

        /// <summary>Checks an answer against the context and writes each record's Code.</summary>
        /// <param name="ctx">The context that built the request.</param>
        /// <param name="responseLen">Bounds the search for the header elements.</param>
        /// <param name="response">The answer, NUL-terminated.</param>
        /// <returns>0, or a result of <see cref="Call.Parse"/>.</returns>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int iParse_DVKResponsePKT(ref QueryContext ctx, int responseLen, byte[] response);

        /// <summary>Writes <paramref name="count"/> bytes as uppercase hex digits and a NUL.</summary>
        /// <param name="bytes">The bytes.</param>
        /// <param name="count">How many of them.</param>
        /// <param name="output">At least 2 * count + 1 bytes.</param>
        /// <returns>Always 0.</returns>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int bin2hex(byte[] bytes, int count, byte[] output);

        /// <summary>Releases a buffer the library returned; zero is ignored.</summary>
        /// <param name="buffer">The buffer.</param>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void vFreeData(IntPtr buffer);
    }
}

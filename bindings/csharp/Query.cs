// A query over the library, of the same shape as the Python binding:
//
//   using (var q = new Dvkc.Query()) {
//       q.Add("SN-0001", "A123");
//       byte[] document = q.Build(42, "client.id");
//       q.Parse(Dvkc.Query.Exchange("dvk.example.net", 443, "/dvk", "service-ca.pem",
//                                   Dvkc.Query.Envelope(document, Sign(document))));
//       int code = q.Code(0);
//   }
//
// Arguments are checked before any call (ArgumentNullException,
// ArgumentException, ArgumentOutOfRangeException, each naming its
// parameter); a call that fails throws DvkcException. Every buffer the
// library returns is copied and given back to vFreeData, however the call
// ends.
using System;
using System.Collections.Generic;

namespace Dvkc
{
    /// <summary>
    /// One query: its records, the context that built the request, and the record table the answer's
    /// codes are written into. The table lives in unmanaged memory, at one address from
    /// <see cref="Build"/> to <see cref="Parse"/>. One Query serves one thread at a time.
    /// </summary>
    public sealed class Query : IDisposable
    {
        readonly List<KeyValuePair<byte[], byte[]>> records = new List<KeyValuePair<byte[], byte[]>>();
        QueryContext context;
        RecordTable table;
        bool disposed;

        /// <summary>Adds a record for the next <see cref="Build"/>.</summary>
        /// <param name="sn">The serial text: at most 16 bytes once encoded (see <see cref="NativeText"/>).</param>
        /// <param name="ssid">The identifier text: 1 to 10 bytes once encoded.</param>
        /// <exception cref="ArgumentNullException"><paramref name="sn"/> or <paramref name="ssid"/> is null.</exception>
        /// <exception cref="ArgumentException">
        /// A text is too long, holds a NUL or a character that cannot be encoded, or the SSID is empty.
        /// </exception>
        /// <exception cref="InvalidOperationException">The query holds 1000 records already.</exception>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public void Add(string sn, string ssid)
        {
            ThrowIfDisposed();
            byte[] snBytes = Field(sn, Native.SnMax, "sn");
            byte[] ssidBytes = Field(ssid, Native.SsidMax, "ssid");
            if (ssidBytes.Length == 0)
                throw new ArgumentException("dvkc: an SSID cannot be empty (the answer must echo it)", "ssid");
            if (records.Count == Native.MaxRecords)
                throw new InvalidOperationException("dvkc: a query holds at most " + Native.MaxRecords + " records");
            records.Add(new KeyValuePair<byte[], byte[]>(snBytes, ssidBytes));
        }

        /// <summary>Removes every record added and releases the last build's table and codes.</summary>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public void Clear()
        {
            ThrowIfDisposed();
            records.Clear();
            ReleaseTable();
            context = new QueryContext();
        }

        /// <summary>iMake_DVKReqPKT: the request document for the records added so far.</summary>
        /// <param name="seedModifier">Enters the nonce's seed (its remainder modulo 1000 counts).</param>
        /// <param name="identityFile">The file whose SHA-1 becomes the ClientID.</param>
        /// <returns>The document, to be signed.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="identityFile"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="identityFile"/> cannot be encoded.</exception>
        /// <exception cref="InvalidOperationException">No record was added.</exception>
        /// <exception cref="DvkcException">The library could not build it.</exception>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public byte[] Build(int seedModifier, string identityFile)
        {
            ThrowIfDisposed();
            byte[] identity = NativeText.Terminated(identityFile, "identityFile");
            if (records.Count == 0)
                throw new InvalidOperationException("dvkc: a query needs at least one record before Build");
            ReleaseTable();
            table = RecordTable.Create(records);
            int length;
            LibraryBuffer buffer;
            int result;
            bool added = false;
            try {
                table.DangerousAddRef(ref added);
                context.TotalCount = table.Count;
                context.Records = table.DangerousGetHandle();
                result = Native.iMake_DVKReqPKT(seedModifier, identity, ref context, out length, out buffer);
            } finally {
                if (added)
                    table.DangerousRelease();
            }
            return Take(Call.Build, result, buffer, length);
        }

        /// <summary>iMake_DVKRequestPKT: the envelope around the document and its signature.</summary>
        /// <param name="document">The document <see cref="Build"/> returned.</param>
        /// <param name="signature">The signature's text, as bytes.</param>
        /// <returns>The envelope, the body to post.</returns>
        /// <exception cref="ArgumentNullException">An argument is null.</exception>
        /// <exception cref="ArgumentException">An argument holds a NUL byte.</exception>
        /// <exception cref="DvkcException">The library could not make it.</exception>
        public static byte[] Envelope(byte[] document, byte[] signature)
        {
            byte[] doc = NativeText.Terminated(document, "document");
            byte[] sig = NativeText.Terminated(signature, "signature");
            int length;
            LibraryBuffer buffer;
            int result = Native.iMake_DVKRequestPKT(document.Length, doc, signature.Length, sig, out length, out buffer);
            return Take(Call.Wrap, result, buffer, length);
        }

        /// <summary>iMake_DVKRequestPKT with the signature as text, encoded by <see cref="NativeText"/>.</summary>
        /// <param name="document">The document <see cref="Build"/> returned.</param>
        /// <param name="signature">The signature's text.</param>
        /// <returns>The envelope, the body to post.</returns>
        /// <exception cref="ArgumentNullException">An argument is null.</exception>
        /// <exception cref="ArgumentException">
        /// An argument holds a NUL, or the signature a character that cannot be encoded.
        /// </exception>
        /// <exception cref="DvkcException">The library could not make it.</exception>
        public static byte[] Envelope(byte[] document, string signature)
        {
            return Envelope(document, NativeText.GetBytes(signature, "signature"));
        }

        /// <summary>
        /// iSSL_SendThenRecv: posts the body over HTTPS and returns the raw answer. Blocks without a time
        /// limit, as the library does.
        /// </summary>
        /// <param name="host">Host name or dotted IPv4 address.</param>
        /// <param name="port">The port, 1 to 65535.</param>
        /// <param name="path">The URL path, normally starting with '/'.</param>
        /// <param name="trustFile">PEM file of the certificates the server must chain to.</param>
        /// <param name="body">The envelope.</param>
        /// <returns>The answer: status line, headers and body.</returns>
        /// <exception cref="ArgumentNullException">An argument is null.</exception>
        /// <exception cref="ArgumentException">A text holds a NUL or a character that cannot be encoded.</exception>
        /// <exception cref="ArgumentOutOfRangeException"><paramref name="port"/> is outside 1 to 65535.</exception>
        /// <exception cref="DvkcException">The exchange failed.</exception>
        public static byte[] Exchange(string host, int port, string path, string trustFile, byte[] body)
        {
            byte[] hostBytes = NativeText.Terminated(host, "host");
            if (port < 1 || port > 65535)
                throw new ArgumentOutOfRangeException("port", port, "dvkc: a port is 1 to 65535");
            byte[] pathBytes = NativeText.Terminated(path, "path");
            byte[] trust = NativeText.Terminated(trustFile, "trustFile");
            byte[] text = NativeText.Terminated(body, "body");
            int length;
            LibraryBuffer buffer;
            int result = Native.iSSL_SendThenRecv(hostBytes, port, trust, pathBytes, body.Length, text, out length,
                                                  out buffer);
            return Take(Call.Exchange, result, buffer, length);
        }

        /// <summary>iParse_DVKResponsePKT: writes the codes of the last build's records.</summary>
        /// <param name="answer">The answer <see cref="Exchange"/> returned.</param>
        /// <exception cref="ArgumentNullException"><paramref name="answer"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="answer"/> holds a NUL byte.</exception>
        /// <exception cref="DvkcException">The answer was refused; for a service error with its ErrID.</exception>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public void Parse(byte[] answer)
        {
            ThrowIfDisposed();
            byte[] text = NativeText.Terminated(answer, "answer");
            int result;
            bool added = false;
            try {
                if (table != null) {
                    table.DangerousAddRef(ref added);
                    context.Records = table.DangerousGetHandle();
                    context.TotalCount = table.Count;
                } else {
                    context.Records = IntPtr.Zero;
                    context.TotalCount = 0;
                }
                result = Native.iParse_DVKResponsePKT(ref context, answer.Length, text);
            } finally {
                if (added)
                    table.DangerousRelease();
            }
            if (result != 0)
                throw new DvkcException(Call.Parse, result,
                                        result == Results.DVKC_PARSE_SERVICE_ERROR ? context.ErrID : (int?)null);
        }

        /// <summary>The number of records of the last build (0 before any).</summary>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public int Count
        {
            get {
                ThrowIfDisposed();
                return table == null ? 0 : table.Count;
            }
        }

        /// <summary>The Code of record <paramref name="index"/>: -1 until an answer gave it one.</summary>
        /// <param name="index">0 to <see cref="Count"/> - 1.</param>
        /// <returns>The record's code.</returns>
        /// <exception cref="ArgumentOutOfRangeException"><paramref name="index"/> names no record.</exception>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public int Code(int index)
        {
            int count = Count;
            if (index < 0 || index >= count)
                throw new ArgumentOutOfRangeException("index", index,
                                                      "dvkc: the last build has " + count + " record(s)");
            return table.Code(index);
        }

        /// <summary>The ClientID the last build wrote.</summary>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public string ClientID
        {
            get {
                ThrowIfDisposed();
                return context.ClientID ?? "";
            }
        }

        /// <summary>The nonce the last build wrote.</summary>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public string Nonce
        {
            get {
                ThrowIfDisposed();
                return context.Nonce ?? "";
            }
        }

        /// <summary>The request time the last build wrote.</summary>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public string RequestTime
        {
            get {
                ThrowIfDisposed();
                return context.ReqTime ?? "";
            }
        }

        /// <summary>The service's error number after a parse that reported one; 0 otherwise.</summary>
        /// <exception cref="ObjectDisposedException">The query was disposed.</exception>
        public int ErrId
        {
            get {
                ThrowIfDisposed();
                return context.ErrID;
            }
        }

        /// <summary>Releases the record table; any later use throws ObjectDisposedException.</summary>
        public void Dispose()
        {
            ReleaseTable();
            disposed = true;
        }

        void ReleaseTable()
        {
            if (table != null)
                table.Dispose();
            table = null;
            context.Records = IntPtr.Zero;
            context.TotalCount = 0;
        }

        void ThrowIfDisposed()
        {
            if (disposed)
                throw new ObjectDisposedException(GetType().FullName);
        }

        // The bytes of a record's field: no more than max once encoded.
        static byte[] Field(string text, int max, string paramName)
        {
            byte[] bytes = NativeText.GetBytes(text, paramName);
            if (bytes.Length > max)
                throw new ArgumentException("dvkc: " + bytes.Length + " bytes (" + NativeText.Encoding.WebName +
                                                "), at most " + max + " fit",
                                            paramName);
            return bytes;
        }

        // The copy of a returned buffer; the buffer goes back to vFreeData
        // whatever happens. A DvkcException for a non-zero result.
        static byte[] Take(Call call, int result, LibraryBuffer buffer, int length)
        {
            using (buffer) {
                if (result != 0)
                    throw new DvkcException(call, result);
                return buffer.ToArray(length);
            }
        }
    }
}

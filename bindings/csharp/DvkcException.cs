// A library call that returned anything but 0. Serializable, so that it
// crosses application domains and remoting boundaries whole.
using System;
using System.Runtime.Serialization;

namespace Dvkc
{
    /// <summary>
    /// A call of the library that failed: which call, its result, the words dvkc.h gives for that
    /// result, and for a service error the service's ErrID. The message reads e.g.
    /// "iParse_DVKResponsePKT 2000: the service reported an error (ErrID 77)".
    /// </summary>
    [Serializable]
    public sealed class DvkcException : Exception
    {
        /// <summary>A failure of <paramref name="call"/> with <paramref name="result"/>.</summary>
        /// <param name="call">The call that failed.</param>
        /// <param name="result">What it returned (not 0).</param>
        /// <param name="errId">The service's error number, for a parse that reported one.</param>
        public DvkcException(Call call, int result, int? errId = null) : base(MessageFor(call, result, errId))
        {
            Call = call;
            Result = result;
            Words = Results.Words(call, result);
            ErrId = errId;
        }

        DvkcException(SerializationInfo info, StreamingContext context) : base(info, context)
        {
            Call = (Call)info.GetInt32("Call");
            Result = info.GetInt32("Result");
            Words = info.GetString("Words");
            ErrId = info.GetBoolean("HasErrId") ? info.GetInt32("ErrId") : (int?)null;
        }

        /// <summary>The call that failed.</summary>
        public Call Call { get; private set; }

        /// <summary>The exported name of the call that failed, e.g. "iSSL_SendThenRecv".</summary>
        public string FunctionName
        {
            get { return Results.CallName(Call); }
        }

        /// <summary>What the call returned.</summary>
        public int Result { get; private set; }

        /// <summary>The words dvkc.h gives for <see cref="Result"/> of <see cref="Call"/>.</summary>
        public string Words { get; private set; }

        /// <summary>The service's error number when it reported one (result 2000 of a parse); null otherwise.</summary>
        public int? ErrId { get; private set; }

        /// <summary>Stores the call, result, words and ErrID with the exception's own data.</summary>
        /// <param name="info">Where they go.</param>
        /// <param name="context">The serialization's destination.</param>
        public override void GetObjectData(SerializationInfo info, StreamingContext context)
        {
            if (info == null)
                throw new ArgumentNullException("info");
            base.GetObjectData(info, context);
            info.AddValue("Call", (int)Call);
            info.AddValue("Result", Result);
            info.AddValue("Words", Words);
            info.AddValue("HasErrId", ErrId.HasValue);
            info.AddValue("ErrId", ErrId.GetValueOrDefault());
        }

        static string MessageFor(Call call, int result, int? errId)
        {
            return Results.CallName(call) + " " + result + ": " + Results.Words(call, result) +
                   (errId.HasValue ? " (ErrID " + errId.Value + ")" : "");
        }
    }
}

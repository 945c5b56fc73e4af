// Every result of every call, with the words dvkc.h gives it. The constants
// and the table are generated from the header (Results.g.cs).
using System.Collections.Generic;

namespace Dvkc
{
    /// <summary>The four calls that return a result.</summary>
    public enum Call
    {
        /// <summary>iMake_DVKReqPKT: the request document.</summary>
        Build = 0,

        /// <summary>iMake_DVKRequestPKT: the envelope.</summary>
        Wrap = 1,

        /// <summary>iSSL_SendThenRecv: the HTTPS exchange.</summary>
        Exchange = 2,

        /// <summary>iParse_DVKResponsePKT: the answer's codes.</summary>
        Parse = 3
    }

    /// <summary>One result of one call, as dvkc.h names it.</summary>
    public sealed class Result
    {
        internal Result(Call call, string name, int value, string words)
        {
            Call = call;
            Name = name;
            Value = value;
            Words = words;
        }

        /// <summary>The call that returns it.</summary>
        public Call Call { get; private set; }

        /// <summary>Its name in dvkc.h, e.g. "DVKC_PARSE_SERVICE_ERROR".</summary>
        public string Name { get; private set; }

        /// <summary>Its number.</summary>
        public int Value { get; private set; }

        /// <summary>What it means.</summary>
        public string Words { get; private set; }
    }

    /// <summary>Every result of every call, in dvkc.h's order, and their words.</summary>
    public static partial class Results
    {
        /// <summary>Every row of the header's table.</summary>
        public static IReadOnlyList<Result> All
        {
            get { return Table; }
        }

        /// <summary>The exported name of <paramref name="call"/>.</summary>
        /// <param name="call">The call.</param>
        /// <returns>E.g. "iMake_DVKReqPKT".</returns>
        public static string CallName(Call call)
        {
            switch (call) {
            case Call.Build:
                return "iMake_DVKReqPKT";
            case Call.Wrap:
                return "iMake_DVKRequestPKT";
            case Call.Exchange:
                return "iSSL_SendThenRecv";
            default:
                return "iParse_DVKResponsePKT";
            }
        }

        /// <summary>The words for <paramref name="value"/> as a result of <paramref name="call"/>.</summary>
        /// <param name="call">The call.</param>
        /// <param name="value">What it returned.</param>
        /// <returns>The header's words, or "unknown result".</returns>
        public static string Words(Call call, int value)
        {
            foreach (Result row in Table)
                if (row.Call == call && row.Value == value)
                    return row.Words;
            return "unknown result";
        }
    }
}
